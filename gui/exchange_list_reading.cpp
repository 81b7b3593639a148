#include "gui/exchange_list_reading.h"

#include <QJsonArray>
#include <QJsonObject>

#include "gui/output_text.h"

namespace korvane::connector {

std::optional<ExchangeList> readExchangeList(const QString& output) {
    const QJsonValue parsed = jsonIn(output);
    if (!parsed.isArray()) return std::nullopt;
    ExchangeList list;
    for (const QJsonValue& value : parsed.toArray()) {
        const QJsonObject entry = value.toObject();
        const QString name = entry.value("name").toString();
        if (name.trimmed().isEmpty()) return std::nullopt;
        if (!entry.value("live").toBool()) {
            list.nameOnly << name;
            continue;
        }
        QString display = oneShortLine(entry.value("display_name").toString(), 40);
        if (display.isEmpty()) display = name;
        list.live.append(ExchangeItem{name, display, entry.value("passphrase").toBool(), true});
    }
    if (list.live.isEmpty()) return std::nullopt;
    return list;
}

ExchangeItem itemFor(const QList<ExchangeItem>& items, const QString& id) {
    for (const ExchangeItem& item : items) {
        if (item.id == id) return item;
    }
    // Without the connector's list the window cannot know whether the exchange takes a
    // passphrase; the connector can, so a typed one is passed on and it decides.
    return ExchangeItem{id, id, true, false};
}

}  // namespace korvane::connector
