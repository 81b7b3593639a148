#pragma once

#include <QList>
#include <QString>
#include <QUuid>

namespace korvane::connector {

// One exchange tab.
struct ExchangeItem {
    QString id;    // the name passed to korvane-connector
    QString name;  // what the tab shows
    bool needsPassphrase = false;

    bool operator==(const ExchangeItem&) const = default;
};

// What one exchange tab is editing and knows.
struct ExchangeCredentialDraft {
    QString apiKey;
    QString apiSecret;
    QString passphrase;
    QString status = "not checked";
    QString balance = "not loaded";
    QString validationOutput;
    bool loadedFromVault = false;
};

// One run in the technical log.
struct CommandLogEntry {
    QUuid id;
    QString title;
    QString output;
};

// The balance card's reading of a stored "balance" output.
struct ParsedBalanceView {
    QString title = "Balance";
    QString value;
    QStringList lines;
    QString rawOutput;
};

// A line of text for the window and whether it reports a failure (drawn in the error colour).
struct OutcomeLine {
    QString text;
    bool isError = false;

    bool operator==(const OutcomeLine&) const = default;
};

// Returns the six exchange tabs in display order.
QList<ExchangeItem> defaultExchangeItems();

}  // namespace korvane::connector
