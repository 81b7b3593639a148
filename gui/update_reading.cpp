#include "gui/update_reading.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QSysInfo>

#include "gui/output_text.h"

namespace korvane::connector {
namespace {

OutcomeLine failure(const QString& text) {
    return {text, true};
}

QString versionOf(const QJsonObject& answer) {
    return oneShortLine(answer.value("latest_version").toString(), 40);
}

// "the new version" reads better than an empty name when the answer does not carry one.
QString versionOrGeneric(const QJsonObject& answer) {
    const QString version = versionOf(answer);
    return version.isEmpty() ? QString("the new version") : version;
}

OutcomeLine readError(const QJsonObject& answer) {
    const QString reason = answer.value("reason").toString();
    if (reason == "update_file_missing") return failure("Nothing downloaded yet");
    if (reason == "open_dmg_failed") {
        const QString file = QFileInfo(answer.value("file").toString()).fileName();
        return failure("Could not open the installer: " + (file.isEmpty() ? QString("no file named") : file));
    }
    if (reason == "update_check_failed" || reason == "manifest_fetch_failed") {
        return failure("Could not reach the update server");
    }
    if (reason == "update_manifest_invalid") return failure("The update server sent an unreadable answer");
    if (reason == "update_download_failed") return failure("Could not download " + versionOrGeneric(answer));
    if (reason == "update_checksum_mismatch") {
        return failure("The download of " + versionOrGeneric(answer) + " did not match its checksum");
    }
    if (reason == "update_signature_invalid") {
        return failure("The download of " + versionOrGeneric(answer) + " is not correctly signed");
    }
    if (reason == "update_url_rejected")
        return failure("The update server offered an unsafe download address");
    if (reason.isEmpty()) return failure("Update failed without a reason");
    return failure("Update failed: " + oneShortLine(reasonWords(reason), 80));
}

OutcomeLine readSuccess(const QString& command, const QJsonObject& answer) {
    const bool available = answer.value("update_available").toBool();
    if (command == "update-check") {
        return {available ? "Version " + versionOrGeneric(answer) + " is available" : QString("Up to date"),
                false};
    }
    if (command == "update-download") {
        if (answer.value("downloaded").toBool()) return {"Downloaded " + versionOrGeneric(answer), false};
        if (!available) return {"Up to date", false};
        return failure("Nothing was downloaded");
    }
    if (answer.value("install_flow_started").toBool()) {
        const QString file = QFileInfo(answer.value("file").toString()).fileName();
        return {file.isEmpty() ? QString("Installer opened") : "Installer opened: " + file, false};
    }
    return failure("The installer did not start");
}

}  // namespace

OutcomeLine readUpdateOutcome(const QString& command, const QString& output) {
    if (output.startsWith("failed to run connector: ")) {
        return failure("Could not run the connector: " +
                       oneShortLine(output.section('\n', 0, 0).mid(25), 100));
    }
    const QJsonValue parsed = jsonIn(output);
    const QJsonObject answer = parsed.toObject();
    const QString status = answer.value("status").toString();
    if (status == "ok") return readSuccess(command, answer);
    if (status == "error") return readError(answer);
    return failure("Unexpected answer from the connector (see the technical log)");
}

UpdatePlatform currentUpdatePlatform() {
    UpdatePlatform platform;
#if defined(Q_OS_LINUX)
    platform.isLinux = true;
#endif
    const QString arch = QSysInfo::currentCpuArchitecture();
    // Debian's words for the machine types the package is built for.
    if (arch == "arm64")
        platform.debianArch = "arm64";
    else if (arch == "i386")
        platform.debianArch = "i386";
    return platform;
}

UpdateReading readUpdate(const QString& command, const QString& output, const UpdatePlatform& platform) {
    UpdateReading reading{readUpdateOutcome(command, output), false};
    const QJsonObject answer = jsonIn(output).toObject();
    const bool ok = answer.value("status").toString() == "ok";
    if (platform.isLinux) {
        // The connector's download is a macOS disk image; on Linux the package manager installs.
        if (ok && answer.value("update_available").toBool()) {
            const QString version = versionOf(answer);
            const QString file = "korvane-connector_" + (version.isEmpty() ? QString("<version>") : version) +
                                 "_" + platform.debianArch + ".deb";
            reading.line = {"Version " + versionOrGeneric(answer) + " is available. Download " + file +
                                " from the release page, then install it with: sudo apt install ./" + file,
                            false};
        }
        return reading;
    }
    // Only a download the connector verified may be opened.
    reading.readyToInstall = command == "update-download" && ok && answer.value("downloaded").toBool();
    return reading;
}

OutcomeLine updateInProgress(const QString& command) {
    if (command == "update-check") return {QString("Checking for updates") + QChar(0x2026), false};
    if (command == "update-download") return {QString("Downloading the update") + QChar(0x2026), false};
    return {QString("Opening the installer") + QChar(0x2026), false};
}

}  // namespace korvane::connector
