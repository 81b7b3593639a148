#pragma once

#include <optional>

#include "gui/gui_records.h"

namespace korvane::connector {

// Returns capture group 1 of the first match of `pattern` in `text`; empty when the pattern is
// invalid, nothing matches or the group did not take part.
std::optional<QString> captureFirst(const QString& pattern, const QString& text);

// Returns the headline and explanation lines for the balance output `text` of `exchangeId`;
// empty when no balance has been loaded ("" or "not loaded").
std::optional<ParsedBalanceView> summarizeBalance(const QString& exchangeId, const QString& text);

}  // namespace korvane::connector
