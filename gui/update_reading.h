#pragma once

#include <QString>

#include "gui/gui_records.h"

namespace korvane::connector {

// Returns what the updates card says after `command` ("update-check", "update-download" or
// "update-apply") printed `output`: what happened, in error wording when it failed.
OutcomeLine readUpdateOutcome(const QString& command, const QString& output);

// Returns the neutral line shown while `command` is queued or running.
OutcomeLine updateInProgress(const QString& command);

}  // namespace korvane::connector
