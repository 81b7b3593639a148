#pragma once

#include <QList>

#include "gui/gui_records.h"

namespace korvane::connector {

// Returns true when the run is a problem worth the user's attention: it did not start, was
// killed, exited non-zero, or its JSON answer says "status":"error". An empty store's
// "status=missing" is an answer, not a problem.
bool runIsProblem(const CommandLogEntry& entry);

// How far back a repeated result is looked for: one polling round's runs.
constexpr int kFoldWindow = 4;

// Adds `entry` at the top of `log` (newest first), or, when one of the newest kFoldWindow entries
// has the same title, output and outcome, counts it there instead (its time becomes the new
// one's); then drops the oldest beyond `limit`. Returns true when it folded.
bool addToLog(QList<CommandLogEntry>& log, const CommandLogEntry& entry, int limit);

// Returns the entries of `log` that are problems, in order.
QList<CommandLogEntry> problemsOnly(const QList<CommandLogEntry>& log);

}  // namespace korvane::connector
