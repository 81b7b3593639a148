#include "gui/program_locator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace korvane::connector {
namespace {

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

}  // namespace

QString locateConnectorProgram() {
    const QByteArray overridden = qgetenv("KORVANE_CONNECTOR_PATH");
    if (!overridden.isNull() && !overridden.isEmpty()) return QString::fromLocal8Bit(overridden);

    const QString executableDir = QCoreApplication::applicationDirPath();
#ifdef Q_OS_MACOS
    // Inside an application bundle the executable sits in Contents/MacOS, next to the connector.
    const QString bundled = QDir(executableDir).filePath("../../Contents/MacOS/korvane-connector");
    if (isExecutableFile(bundled)) return QDir::cleanPath(bundled);
#endif
    const QString beside = QDir(executableDir).filePath("korvane-connector");
    if (isExecutableFile(beside)) return beside;
    return QDir::home().filePath(".tarvek/workspace/korvane/connector-native/build/korvane-connector");
}

}  // namespace korvane::connector
