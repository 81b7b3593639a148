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

// An account's equity and available balance, read the same way for every exchange: equity is
// the account's value with unrealised profit and loss, available what new orders may use.
struct AccountFigures {
    QString equity;     // with its coin
    QString available;  // with its coin
    QString problem;    // why there are no figures; empty when there are
};

// Returns the figures in the balance output `text` of `exchangeId`; empty when no balance has
// been loaded.
std::optional<AccountFigures> accountFigures(const QString& exchangeId, const QString& text);

}  // namespace korvane::connector
