#include "fake_connector.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <csignal>

namespace korvane::connector {

const QByteArray kExchangeList =
    R"([{"name":"bybit","display_name":"Bybit","passphrase":false,"live":true,"quantity_unit":"base_coin"},)"
    R"({"name":"okx","display_name":"OKX","passphrase":true,"live":true,"quantity_unit":"contracts"},)"
    R"({"name":"gate","display_name":"Gate","passphrase":false,"live":true,"quantity_unit":"contracts"},)"
    R"({"name":"bingx","display_name":"BingX","passphrase":false,"live":true,"quantity_unit":"base_coin"},)"
    R"({"name":"kucoin","display_name":"KuCoin","passphrase":true,"live":true,"quantity_unit":"contracts"},)"
    R"({"name":"bitget","display_name":"Bitget","passphrase":true,"live":true,"quantity_unit":"base_coin"},)"
    R"({"name":"mexc","display_name":"MEXC","passphrase":false,"live":false,"quantity_unit":"base_coin"}])";

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
}

}  // namespace

FakeConnector::FakeConnector() {
    QDir(dir_.path()).mkpath("out");
    QDir(dir_.path()).mkpath("delay");
    QDir(dir_.path()).mkpath("exit");
    QDir(dir_.path()).mkpath("stdin");
    // Arguments are recorded one per line between markers, so empty ones stay visible.
    const QByteArray script =
        "#!/bin/sh\n"
        "d='" +
        dir_.path().toUtf8() +
        "'\n"
        // Runs in separate lanes start side by side: numbering and recording hold a lock.
        "while ! mkdir \"$d/lock\" 2>/dev/null; do sleep 0.01; done\n"
        "n=$(( $(cat \"$d/count\" 2>/dev/null || echo 0) + 1 )); echo $n > \"$d/count\"\n"
        "{ echo '--call'; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } >> \"$d/calls\"\n"
        "rmdir \"$d/lock\"\n"
        "cat > \"$d/stdin/$n\"\n"
        "[ -f \"$d/delay/$1\" ] && sleep \"$(cat \"$d/delay/$1\")\"\n"
        "if [ -f \"$d/out/$1.$2\" ]; then cat \"$d/out/$1.$2\"; elif [ -f \"$d/out/$1\" ]; then cat "
        "\"$d/out/$1\"; fi\n"
        "[ -f \"$d/exit/$1\" ] && exit \"$(cat \"$d/exit/$1\")\"\n"
        "exit 0\n";
    writeFile(path(), script);
    QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("KORVANE_CONNECTOR_PATH", path().toUtf8());
    setOutput("exchanges", kExchangeList);
}

FakeConnector::~FakeConnector() {
    qunsetenv("KORVANE_CONNECTOR_PATH");
}

QString FakeConnector::path() const {
    return dir_.filePath("fake-korvane-connector");
}

void FakeConnector::setOutput(const QString& command, const QByteArray& output) {
    writeFile(dir_.filePath("out/" + QString(command).replace(' ', '.')), output);
}

void FakeConnector::setDelay(const QString& command, double seconds) {
    writeFile(dir_.filePath("delay/" + command), QByteArray::number(seconds));
}

void FakeConnector::setExitCode(const QString& command, int code) {
    writeFile(dir_.filePath("exit/" + command), QByteArray::number(code));
}

void FakeConnector::forgetCalls() {
    QFile::remove(dir_.filePath("calls"));
    QFile::remove(dir_.filePath("count"));
}

QList<QByteArray> FakeConnector::inputs() const {
    QList<QByteArray> inputs;
    for (qsizetype call = 1; call <= calls().size(); ++call) {
        QFile file(dir_.filePath("stdin/" + QString::number(call)));
        inputs.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return inputs;
}

QList<QStringList> FakeConnector::calls() const {
    QFile file(dir_.filePath("calls"));
    QList<QStringList> calls;
    if (!file.open(QIODevice::ReadOnly)) return calls;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line == "--call") {
            calls.append(QStringList{});
        } else if (line.startsWith('[') && line.endsWith(']') && !calls.isEmpty()) {
            calls.last().append(line.mid(1, line.size() - 2));
        }
    }
    return calls;
}

SandboxProcess startSandbox() {
    auto* process = new QProcess;
    process->setWorkingDirectory(QString(KORVANE_SOURCE_DIR) + "/sandbox");
    process->start("python3", {"-m", "korvane_sandbox"});
    SandboxProcess sandbox;
    process->waitForStarted();
    QByteArray pending;
    while (!sandbox.env.contains("KORVANE_SANDBOX_READY") && process->waitForReadyRead(10000)) {
        pending += process->readAllStandardOutput();
        while (pending.contains('\n')) {
            const int end = pending.indexOf('\n');
            QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            line.remove("export ");
            sandbox.env.insert(line.section('=', 0, 0), line.section('=', 1));
        }
    }
    sandbox.pid = process->processId();
    return sandbox;
}

void stopSandbox(const SandboxProcess& sandbox) {
    if (sandbox.pid > 0) ::kill(static_cast<pid_t>(sandbox.pid), SIGTERM);
}

}  // namespace korvane::connector
