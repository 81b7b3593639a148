#include "gui/balance_summary.h"

#include <QRegularExpression>

namespace korvane::connector {
namespace {

struct Capture {
    QString pattern;
    QString fallbackPattern;  // tried when the first yields nothing
};

struct Rule {
    QString exchange;
    QList<Capture> captures;
    // Builds value and lines from the captures, in capture order.
    ParsedBalanceView (*build)(const QStringList& values);
};

ParsedBalanceView view(const QString& value, const QString& first, const QString& second) {
    ParsedBalanceView result;
    result.value = value;
    result.lines = {first, second};
    return result;
}

const QList<Rule>& rules() {
    static const QList<Rule> table = {
        {"bybit",
         {{R"re("totalEquity":"([^"]+)")re", {}},
          {R"re("walletBalance":"([^"]+)")re", {}},
          {R"re("coin":"([^"]+)")re", {}}},
         [](const QStringList& v) {
             return view(v[0] + " " + v[2], "Total equity", "Wallet balance: " + v[1] + " " + v[2]);
         }},
        {"gate",
         {{R"re("total":"([^"]+)")re", {}},
          {R"re("available":"([^"]+)")re", {}},
          {R"re("currency":"([^"]+)")re", {}}},
         [](const QStringList& v) {
             return view(v[1] + " " + v[2], "Available", "Total: " + v[0] + " " + v[2]);
         }},
        {"bingx",
         {{R"re("equity":"([^"]+)")re", {}},
          {R"re("availableMargin":"([^"]+)")re", {}},
          {R"re("asset":"([^"]+)")re", {}}},
         [](const QStringList& v) {
             return view(v[1] + " " + v[2], "Available margin", "Equity: " + v[0] + " " + v[2]);
         }},
        {"kucoin",
         {{R"re("availableBalance":([0-9.]+))re", R"re("availableBalance":"([^"]+)")re"},
          {R"re("holdBalance":([0-9.]+))re", R"re("holdBalance":"([^"]+)")re"},
          {R"re("currency":"([^"]+)")re", {}}},
         [](const QStringList& v) {
             return view(v[0] + " " + v[2], "Available balance", "Held: " + v[1] + " " + v[2]);
         }},
        {"bitget",
         {{R"re("available":"([^"]+)")re", {}},
          {R"re("accountEquity":"([^"]+)")re", {}},
          {R"re("marginCoin":"([^"]+)")re", {}}},
         [](const QStringList& v) {
             return view(v[0] + " " + v[2], "Available futures balance",
                         "Account equity: " + v[1] + " " + v[2]);
         }},
        {"okx",
         {{R"re("availBal":"([^"]+)")re", {}},
          {R"re("cashBal":"([^"]+)")re", {}},
          {R"re("ccy":"([^"]+)")re", {}}},
         [](const QStringList& v) {
             return view(v[0] + " " + v[2], "Available balance", "Cash balance: " + v[1] + " " + v[2]);
         }},
    };
    return table;
}

// Where each exchange's answer holds the account's equity and available balance, and the
// coin they are in. Numbers that the answer writes bare (not in quotes) are taken as written.
struct FigureRule {
    QString exchange;
    QString equityKey;
    QString availableKey;
    QString coinKey;
    QString addedToEquityKey;  // an amount the exchange leaves out of its equity field, if any
};

const QList<FigureRule>& figureRules() {
    static const QList<FigureRule> table = {
        {"bybit", "totalEquity", "totalAvailableBalance", "coin", {}},
        {"okx", "eq", "availBal", "ccy", {}},
        // Gate's "total" is the wallet balance; its equity adds the unrealised result.
        {"gate", "total", "available", "currency", "unrealised_pnl"},
        {"bingx", "equity", "availableMargin", "asset", {}},
        {"kucoin", "accountEquity", "availableBalance", "currency", {}},
        {"bitget", "accountEquity", "available", "marginCoin", {}},
    };
    return table;
}

std::optional<QString> memberValue(const QString& key, const QString& text) {
    const QString quoted = "\"" + QRegularExpression::escape(key) + "\":";
    if (auto value = captureFirst(quoted + R"re("([^"]+)")re", text)) return value;
    return captureFirst(quoted + R"re((-?[0-9][0-9.eE+-]*))re", text);
}

// Returns the reason of an answer that says "status":"error" (underscores as spaces, "Unknown
// error" when it names none); empty for any other answer.
std::optional<QString> errorReason(const QString& text) {
    if (!text.contains(R"re("status":"error")re")) return std::nullopt;
    return captureFirst(R"re("reason":"([^"]+)")re", text).value_or("Unknown error").replace('_', ' ');
}

QString plainAmount(const QString& amount) {
    bool ok = false;
    const double value = amount.toDouble(&ok);
    return ok ? QString::number(value, 'f', 2) : amount;
}

}  // namespace

std::optional<AccountFigures> accountFigures(const QString& exchangeId, const QString& text) {
    if (text.isEmpty() || text == "not loaded") return std::nullopt;
    if (const auto reason = errorReason(text)) return AccountFigures{{}, {}, *reason};
    for (const FigureRule& rule : figureRules()) {
        if (rule.exchange != exchangeId) continue;
        std::optional<QString> equity = memberValue(rule.equityKey, text);
        const std::optional<QString> available = memberValue(rule.availableKey, text);
        const QString coin = memberValue(rule.coinKey, text).value_or("");
        if (!equity || !available) break;
        if (!rule.addedToEquityKey.isEmpty()) {
            bool ok = false;
            const double added = memberValue(rule.addedToEquityKey, text).value_or("0").toDouble(&ok);
            const double base = equity->toDouble();
            if (ok) equity = QString::number(base + added, 'f', 8);
        }
        const QString suffix = coin.isEmpty() ? QString() : " " + coin;
        return AccountFigures{plainAmount(*equity) + suffix, plainAmount(*available) + suffix, {}};
    }
    return AccountFigures{{}, {}, "The balance answer could not be read"};
}

std::optional<QString> captureFirst(const QString& pattern, const QString& text) {
    const QRegularExpression expression(pattern);
    if (!expression.isValid()) return std::nullopt;
    const QRegularExpressionMatch match = expression.match(text);
    if (!match.hasMatch() || match.lastCapturedIndex() < 1 || match.capturedStart(1) < 0) return std::nullopt;
    return match.captured(1);
}

std::optional<ParsedBalanceView> summarizeBalance(const QString& exchangeId, const QString& text) {
    if (text.isEmpty() || text == "not loaded") return std::nullopt;
    if (const auto reason = errorReason(text)) {
        ParsedBalanceView error;
        error.value = "Could not load balance";
        error.lines = {*reason};
        error.rawOutput = text;
        return error;
    }
    for (const Rule& rule : rules()) {
        if (rule.exchange != exchangeId) continue;
        QStringList values;
        for (const Capture& capture : rule.captures) {
            std::optional<QString> value = captureFirst(capture.pattern, text);
            if (!value && !capture.fallbackPattern.isEmpty())
                value = captureFirst(capture.fallbackPattern, text);
            if (!value) break;
            values << *value;
        }
        if (values.size() != rule.captures.size()) break;
        ParsedBalanceView summary = rule.build(values);
        summary.rawOutput = text;
        return summary;
    }
    ParsedBalanceView fallback;
    fallback.value = "Balance loaded";
    fallback.lines = {"Raw response available in technical log"};
    fallback.rawOutput = text;
    return fallback;
}

}  // namespace korvane::connector
