#pragma once

#include <QString>

#include "gui/gui_records.h"

namespace korvane::connector {

// What one "status" or "server-health" run found: the card's word, and whether the run gave an
// answer the window understood (false: the card shows "unknown", never the last good word).
struct CheckReading {
    QString word;
    bool confirmed = false;
    QString detail;  // a short plain reason when the check failed; empty otherwise
};

// Returns the connector card's reading of a "status" run; `ranCleanly` is false when the program
// did not start or exited non-zero.
CheckReading readConnectorHealth(const QString& output, bool ranCleanly);

// Returns the server card's reading of a "server-health" run.
CheckReading readServerHealth(const QString& output, bool ranCleanly);

// What one "bind-status" run found.
struct BindingReading {
    enum class Polling { keep, start, stop };
    QString word;
    bool confirmed = false;
    Polling polling = Polling::keep;
    OutcomeLine message;  // set when the relay refused the token for good
};

// Returns the binding card's reading of a "bind-status" (or claim) answer.
BindingReading readBindingStatus(const QString& output, bool ranCleanly);

// Returns the message for a relay reason that ends a pairing for good ("token_not_found",
// "token_expired"); empty text for any other reason.
OutcomeLine finalTokenRefusal(const QString& reason);

}  // namespace korvane::connector
