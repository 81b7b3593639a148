#pragma once

#include <QString>

#include "gui/gui_records.h"

namespace korvane::connector {

// What the window learns from one "validate" output.
struct ValidationReading {
    QString status;      // the draft's word: "valid", "invalid", "error", "unknown", ...
    bool saved = false;  // credentials_saved=true
    QString reason;      // short, one line; empty when there is nothing to add
    bool reasonIsError = false;
    KeyRisk risk = KeyRisk::unknown;  // what a valid key may do
};

// Returns the short warning or note for a key's risk; empty text when there is none to show.
OutcomeLine keyRiskLine(KeyRisk risk);

// Returns the status word, the saved flag and a short human reason for the "validate" output
// `output` (key=value lines, possibly a launch-failure text).
ValidationReading readValidation(const QString& output);

// Returns the exchange's own message(s) from a validation `reason` such as "<exchange> rejected
// credentials: [{"host": ..., "body": "{\"msg\":...}"}, ...]", distinct ones joined with "; ";
// the reason itself cut to one short line when it holds no message.
QString shortFailureReason(const QString& reason);

}  // namespace korvane::connector
