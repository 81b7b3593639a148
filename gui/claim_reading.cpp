#include "gui/claim_reading.h"

#include <QJsonObject>

#include "gui/output_text.h"

namespace korvane::connector {
namespace {

// Returns the human part of a failed claim: the relay's reason word, its message, or the first
// line of whatever came back.
QString failureDetail(const QString& output) {
    if (output.startsWith("failed to run connector: ")) return "could not run the connector";
    const QJsonObject answer = jsonIn(output).toObject();
    for (const char* key : {"reason", "error", "message"}) {
        const QString text = answer.value(key).toString();
        if (!text.trimmed().isEmpty()) return oneShortLine(reasonWords(text), 100);
    }
    const QString first = firstShortLine(output, 100);
    return first.isEmpty() ? QString("no answer") : first;
}

}  // namespace

ClaimReading readClaim(const QString& output) {
    // The words follow the binding table: a pending signature wins over a plain "ok".
    if (output.contains("pending_signature")) {
        return {"pending signature", {"Token claimed: finish the wallet signature in the browser", false}};
    }
    if (output.contains("\"status\":\"ok\"")) return {"claimed", {"Token claimed", false}};
    return {"claim failed", {"Claim failed: " + failureDetail(output), true}};
}

}  // namespace korvane::connector
