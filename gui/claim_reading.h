#pragma once

#include <QString>

#include "gui/gui_records.h"

namespace korvane::connector {

// What the window learns from one "claim-token" output.
struct ClaimReading {
    QString bindingStatus;  // "pending signature", "claimed" or "claim failed"
    OutcomeLine message;    // the line shown under the token field until the next user action
};

// Returns the binding word and the message for the "claim-token" output `output`.
ClaimReading readClaim(const QString& output);

}  // namespace korvane::connector
