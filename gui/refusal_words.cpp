#include "gui/refusal_words.h"

#include <QList>
#include <QPair>

#include "gui/output_text.h"

namespace korvane::connector {

QString refusalClassWords(const QString& refusalClass) {
    static const QList<QPair<QString, QString>> words = {
        {"credentials", "Key or secret not accepted"},
        {"permission", "Permission missing: the key is not allowed to do this"},
        {"ip_not_allowed", "IP not allowed: add this computer's address to the key's IP list"},
        {"timestamp", "Clock off: set this computer's clock to update automatically"},
        {"rate_limited", "Rate limited: the exchange asks to wait a moment before trying again"},
        {"insufficient_margin", "Not enough margin"},
        {"not_found", "Not found on the exchange"},
        {"position_mode", "The account's position mode does not allow this"},
        {"margin_mode", "The account's margin mode does not allow this"},
        {"account_mode", "The account's mode does not allow this"},
        {"wrong_environment", "The key belongs to another environment (demo or live)"},
        {"invalid_request", "The exchange refused the request as invalid"},
        {"other", "The exchange refused the request"},
    };
    for (const auto& [name, text] : words) {
        if (name == refusalClass) return text;
    }
    return {};
}

QString transportWords(const QString& text) {
    const QString line = oneShortLine(text, 160);
    const QString lower = line.toLower();
    // curl's numbered errors, in the words a trader can act on.
    static const QList<QPair<QString, QString>> curl = {
        {"curl: (6)", "The server's name could not be found: check the internet connection"},
        {"curl: (7)", "Could not connect to the server: it may be down or blocked"},
        {"curl: (28)", "The server took too long to answer"},
        {"curl: (35)", "A secure connection to the server could not be set up"},
        {"curl: (52)", "The server closed the connection without answering"},
        {"curl: (56)", "The connection to the server broke off"},
        {"curl: (60)", "The server's certificate could not be verified"},
    };
    for (const auto& [prefix, words] : curl) {
        if (lower.contains(prefix)) return words;
    }
    if (lower.startsWith("curl:")) return "Could not reach the server";
    if (lower == "http failed" || lower.contains("http_failed") || lower.contains("http failed")) {
        return "Could not reach the server";
    }
    if (lower.contains("sign") && (lower.contains("error") || lower.contains("invalid"))) {
        return "The exchange did not accept the request's signature: check the API secret";
    }
    return line;
}

}  // namespace korvane::connector
