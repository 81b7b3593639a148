#include "gui/validation_reading.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "gui/output_text.h"
#include "gui/refusal_words.h"

namespace korvane::connector {
namespace {

constexpr int kReasonLimit = 160;
constexpr int kMostMessages = 3;
constexpr int kDeepest = 8;  // exchange answers nest two or three levels; more is noise

// Message fields of the exchanges' error answers, in the order they are preferred.
const char* const kMessageKeys[] = {"retMsg", "msg", "message", "label"};

void addMessage(QStringList& messages, const QString& text) {
    QString message = oneShortLine(text, kReasonLimit);
    // "Request header OK-ACCESS-PASSPHRASE incorrect." reads as a status line without its period.
    if (message.endsWith('.') && !message.endsWith("..")) message.chop(1);
    if (!message.isEmpty() && !messages.contains(message)) messages << message;
}

void collect(const QJsonValue& value, QStringList& messages, int depth);

// A probe's "body" is the exchange's answer as text: JSON to look into, or a plain error line.
void collectBody(const QString& body, QStringList& messages, int depth) {
    const QJsonValue parsed = jsonIn(body);
    if (!parsed.isUndefined()) {
        collect(parsed, messages, depth + 1);
    } else {
        addMessage(messages, firstShortLine(body, kReasonLimit));
    }
}

void collectObject(const QJsonObject& object, QStringList& messages, int depth) {
    const QJsonValue body = object.value("body");
    if (body.isString()) return collectBody(body.toString(), messages, depth);
    if (body.isObject() || body.isArray()) return collect(body, messages, depth + 1);
    for (const char* key : kMessageKeys) {
        const QJsonValue message = object.value(key);
        if (message.isString() && !message.toString().trimmed().isEmpty()) {
            return addMessage(messages, message.toString());
        }
    }
    // No words at all: the code is still better than the raw attempts.
    for (const char* key : {"retCode", "code"}) {
        const QJsonValue code = object.value(key);
        const QString text = code.isString()   ? code.toString()
                             : code.isDouble() ? code.toVariant().toString()
                                               : "";
        if (!text.isEmpty() && text != "0") return addMessage(messages, "error code " + text);
    }
}

void collect(const QJsonValue& value, QStringList& messages, int depth) {
    if (depth > kDeepest) return;
    if (value.isArray()) {
        for (const QJsonValue& item : value.toArray()) collect(item, messages, depth + 1);
    } else if (value.isObject()) {
        collectObject(value.toObject(), messages, depth);
    } else if (value.isString()) {
        const QJsonValue parsed = jsonIn(value.toString());
        if (!parsed.isUndefined()) collect(parsed, messages, depth + 1);
    }
}

}  // namespace

QString shortFailureReason(const QString& reason) {
    const qsizetype colon = reason.indexOf(':');
    const QJsonValue attempts = jsonIn(colon >= 0 ? reason.mid(colon + 1) : reason);
    QStringList messages;
    if (!attempts.isUndefined()) collect(attempts, messages, 0);
    if (messages.isEmpty()) return firstShortLine(reason, kReasonLimit);
    return oneShortLine(messages.mid(0, kMostMessages).join("; "), kReasonLimit);
}

namespace {

QString refusalReason(const QString& output, const QString& reason) {
    // The class comes as its own line, or inside the refusal the reason carries.
    QString refusalClass = lineValue(output, "class").value_or("");
    if (refusalClass.isEmpty()) refusalClass = jsonIn(reason).toObject().value("class").toString();
    if (refusalClass.isEmpty()) refusalClass = jsonIn(output).toObject().value("class").toString();
    const QString words = refusalClassWords(refusalClass);
    QString detail = reason.isEmpty() ? QString() : transportWords(shortFailureReason(reason));
    // A refusal record carries the exchange's own words in its message.
    const QString message = jsonIn(reason).toObject().value("message").toString();
    if (!message.trimmed().isEmpty()) detail = transportWords(message);
    if (words.isEmpty()) return detail.isEmpty() ? QString("The connector gave no reason") : detail;
    if (detail.isEmpty() || detail == reason) return words;
    return oneShortLine(words + " (" + detail + ")", kReasonLimit);
}

}  // namespace

ValidationReading readValidation(const QString& output) {
    ValidationReading reading;
    const QString status = lineValue(output, "status").value_or("");
    const QString reason = lineValue(output, "reason").value_or("");
    reading.saved = lineValue(output, "credentials_saved") == QString("true");
    if (status == "valid_trade_ready" || status == "valid_read_only") {
        reading.status = "valid";
        // Withdrawal outweighs everything else a key may do: it can move the funds away.
        if (lineValue(output, "withdrawal_enabled") == QString("true")) {
            reading.risk = KeyRisk::withdrawal;
        } else {
            reading.risk = status == "valid_read_only" ? KeyRisk::readOnly : KeyRisk::tradeReady;
        }
        // A key that checks out but was not stored is a failure the user must hear about.
        if (!reading.saved) {
            reading.reason = "The keys are valid but could not be saved";
            reading.reasonIsError = true;
        }
        return reading;
    }
    if (status == "configured") {
        reading.status = "adapter exists, live validation pending";
        return reading;
    }
    if (status == "invalid" || status == "error") {
        reading.status = status;
        reading.reason = refusalReason(output, reason);
        reading.reasonIsError = true;
        return reading;
    }
    reading.status = "unknown";
    const QString first = firstShortLine(output, kReasonLimit);
    reading.reason = first.isEmpty() ? QString("The connector printed nothing") : transportWords(first);
    reading.reasonIsError = true;
    return reading;
}

OutcomeLine keyRiskLine(KeyRisk risk) {
    if (risk == KeyRisk::withdrawal) {
        return {"This key can withdraw funds. Create a key without withdrawal permission.", true};
    }
    if (risk == KeyRisk::readOnly) return {"Read only: this key cannot trade.", false};
    return {};
}

}  // namespace korvane::connector
