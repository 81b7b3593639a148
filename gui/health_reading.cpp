#include "gui/health_reading.h"

#include <QJsonObject>

#include "gui/output_text.h"
#include "gui/refusal_words.h"

namespace korvane::connector {
namespace {

const QString kUnknown = "unknown";

// Why a check gave no answer, in plain words.
QString failureDetail(const QString& output, bool ranCleanly) {
    if (output.startsWith("failed to run connector: ")) return "The connector could not be started";
    const QJsonObject answer = jsonIn(output).toObject();
    for (const char* key : {"error", "message", "reason"}) {
        const QString text = answer.value(key).toString();
        if (!text.trimmed().isEmpty()) return transportWords(text);
    }
    const QString first = firstShortLine(output, 100);
    if (first.isEmpty()) return ranCleanly ? QString("No answer") : QString("The check failed");
    return transportWords(first);
}

}  // namespace

CheckReading readConnectorHealth(const QString& output, bool ranCleanly) {
    const std::optional<QString> health = lineValue(output, "connector_health");
    if (!health || !ranCleanly) return {kUnknown, false, failureDetail(output, ranCleanly)};
    if (*health == "ready") return {"ready", true, {}};
    if (*health == "pairing_required") return {"pairing required", true, {}};
    return {"starting", true, {}};
}

CheckReading readServerHealth(const QString& output, bool ranCleanly) {
    const QJsonObject answer = jsonIn(output).toObject();
    const QJsonValue reachable = answer.value("reachable");
    if (reachable.isBool()) {
        if (reachable.toBool()) return {"reachable", true, {}};
        return {"unreachable", true, failureDetail(output, false)};
    }
    return {kUnknown, false, failureDetail(output, ranCleanly)};
}

OutcomeLine finalTokenRefusal(const QString& reason) {
    if (reason == "token_not_found") {
        return {"The relay no longer knows this bind token: get a new one from the web app and claim it",
                true};
    }
    if (reason == "token_expired") {
        return {"This bind token has expired: get a new one from the web app and claim it", true};
    }
    return {};
}

BindingReading readBindingStatus(const QString& output, bool ranCleanly) {
    using Polling = BindingReading::Polling;
    const QJsonValue parsed = jsonIn(output);
    const QJsonObject answer = parsed.toObject();
    const QString reason = answer.value("reason").toString();
    // A refusal that no later poll can change ends the wait, whatever else the answer says.
    if (const OutcomeLine refusal = finalTokenRefusal(reason); !refusal.text.isEmpty()) {
        return {reason == "token_expired" ? "token expired" : "token unknown", true, Polling::stop, refusal};
    }
    const QString state = answer.value("bindState").toString();
    if (state == "authorized" || answer.value("pairingStatus").toString() == "bound") {
        return {"authorized", true, Polling::stop, {}};
    }
    if (state == "pending_signature") return {"pending signature", true, Polling::start, {}};
    if (state == "token_waiting") return {"token waiting", true, Polling::stop, {}};
    if (reason == "session_missing") return {"not bound", true, Polling::stop, {}};
    // The relay could not be asked (down, refused, unreadable): nothing is known about the
    // binding, and a pending wait goes on until an answer comes.
    if (!parsed.isObject() || !ranCleanly || answer.value("status").toString() == "error") {
        return {kUnknown, false, Polling::keep, {}};
    }
    return {"not bound", true, Polling::stop, {}};
}

}  // namespace korvane::connector
