#include "gui/log_reading.h"

#include <QJsonObject>

#include "gui/output_text.h"

namespace korvane::connector {

bool runIsProblem(const CommandLogEntry& entry) {
    if (!entry.started || !entry.exitCode) return true;
    if (lineValue(entry.output, "status") == QString("missing")) return false;
    if (*entry.exitCode != 0) return true;
    // A program that reports a failure in its answer but exits 0 still failed.
    return jsonIn(entry.output).toObject().value("status").toString() == "error";
}

bool addToLog(QList<CommandLogEntry>& log, const CommandLogEntry& entry, int limit) {
    for (qsizetype i = 0; i < std::min<qsizetype>(kFoldWindow, log.size()); ++i) {
        CommandLogEntry& earlier = log[i];
        if (earlier.title != entry.title) continue;
        if (earlier.output != entry.output || earlier.exitCode != entry.exitCode ||
            earlier.started != entry.started)
            break;
        earlier.repeats += entry.repeats;
        earlier.finishedAt = entry.finishedAt;
        return true;
    }
    log.prepend(entry);
    while (log.size() > limit) log.removeLast();
    return false;
}

QList<CommandLogEntry> problemsOnly(const QList<CommandLogEntry>& log) {
    QList<CommandLogEntry> problems;
    for (const CommandLogEntry& entry : log) {
        if (runIsProblem(entry)) problems.append(entry);
    }
    return problems;
}

}  // namespace korvane::connector
