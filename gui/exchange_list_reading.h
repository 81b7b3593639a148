#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "gui/gui_records.h"

namespace korvane::connector {

// What the window learns from one "exchanges" output.
struct ExchangeList {
    QList<ExchangeItem> live;  // the exchanges the window offers tabs for, in the connector's order
    QStringList nameOnly;      // names the connector knows but cannot validate
};

// Returns the exchange list printed by "exchanges" (one JSON array of objects with "name",
// "display_name", "passphrase" and "live"); empty when `output` is not such an array, an entry
// lacks a name, or no entry is live.
std::optional<ExchangeList> readExchangeList(const QString& output);

// Returns the item for `id` from `items`; when the list does not hold it (not loaded yet), an item
// named after the id whose passphrase is sent whenever one was typed.
ExchangeItem itemFor(const QList<ExchangeItem>& items, const QString& id);

}  // namespace korvane::connector
