#pragma once

#include <QString>

#include "gui/gui_records.h"

namespace korvane::connector {

// What the updates card can offer: macOS downloads and opens a disk image; Linux installs the
// Debian package by hand.
struct UpdatePlatform {
    bool isLinux = false;
    QString debianArch = "amd64";  // the package's architecture word on Linux
};

// Returns the platform this window runs on.
UpdatePlatform currentUpdatePlatform();

// What one update command found.
struct UpdateReading {
    OutcomeLine line;
    bool readyToInstall = false;  // a verified download waits to be installed
};

// Returns what the updates card says after `command` printed `output` on `platform`; on Linux an
// available version comes with the command that installs its package.
UpdateReading readUpdate(const QString& command, const QString& output, const UpdatePlatform& platform);

// Returns what the updates card says after `command` ("update-check", "update-download" or
// "update-apply") printed `output`: what happened, in error wording when it failed.
OutcomeLine readUpdateOutcome(const QString& command, const QString& output);

// Returns the neutral line shown while `command` is queued or running.
OutcomeLine updateInProgress(const QString& command);

}  // namespace korvane::connector
