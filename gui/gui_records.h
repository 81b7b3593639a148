#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

namespace korvane::connector {

// One exchange tab.
struct ExchangeItem {
    QString id;    // the name passed to korvane-connector
    QString name;  // what the tab shows
    bool needsPassphrase = false;
    bool known = true;  // false for an item the window made up because the connector's list was missing

    bool operator==(const ExchangeItem&) const = default;
};

// The word every status shows until its first answer arrives.
inline const QString kCheckingWord = "checking...";

// What a key may do, as its last validation found; unknown until one succeeded this session.
enum class KeyRisk { unknown, tradeReady, readOnly, withdrawal };

// What one exchange tab is editing and knows.
struct ExchangeCredentialDraft {
    QString apiKey;
    QString apiSecret;
    QString passphrase;
    QString status = "not checked";
    QString balance = "not loaded";
    QString validationOutput;
    bool loadedFromVault = false;
    // A short human reason shown under the status (the exchange's own message for a rejected
    // key); empty when there is nothing to add. statusReasonIsError picks the error colour.
    QString statusReason;
    bool statusReasonIsError = false;
    // Counts the user's edits of the three fields; a lookup or result that started at another
    // count knows the user typed since and leaves the fields alone.
    int editRevision = 0;
    // True while the fields hold typing that no store has confirmed (saved or loaded).
    bool unsavedEdits = false;
    // What the saved key may do (from its last successful validation).
    KeyRisk risk = KeyRisk::unknown;
    // True when the balance shown was read with the saved keys, not the ones just rejected.
    bool balanceFromSavedKeys = false;
};

// One row of the overview strip: an exchange with stored keys, its equity and available
// balance, and what its key may do.
struct OverviewRow {
    QString id;
    QString name;
    QString equity;     // with its coin; empty until loaded
    QString available;  // with its coin; empty until loaded
    QString problem;    // why the balance could not be read; empty when it could
    bool loading = false;
    KeyRisk risk = KeyRisk::unknown;
};

// One run in the technical log.
struct CommandLogEntry {
    QUuid id;
    QString title;
    QString output;  // with secret values masked
    QDateTime finishedAt;
    std::optional<int> exitCode;  // empty when the program did not start or was killed
    bool started = true;          // false when the program could not be launched
    int repeats = 1;              // identical results folded into this entry
    QDateTime firstAt;            // when the first of them finished
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

}  // namespace korvane::connector
