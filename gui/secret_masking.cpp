#include "gui/secret_masking.h"

namespace korvane::connector {
namespace {

const QString kMask = QString(8, QChar(0x2022));
const QString kKeys[] = {"api_secret=", "passphrase="};

bool isWordCharacter(QChar c) {
    return c.isLetterOrNumber();
}

}  // namespace

QString maskSecrets(const QString& text) {
    QString masked;
    masked.reserve(text.size());
    qsizetype copied = 0;
    qsizetype searchFrom = 0;
    while (true) {
        // The earliest of the two keys from here on.
        qsizetype found = -1;
        qsizetype keyLength = 0;
        for (const QString& key : kKeys) {
            const qsizetype at = text.indexOf(key, searchFrom, Qt::CaseInsensitive);
            if (at >= 0 && (found < 0 || at < found)) {
                found = at;
                keyLength = key.size();
            }
        }
        if (found < 0) break;
        const qsizetype valueStart = found + keyLength;
        searchFrom = valueStart;
        // "xpassphrase=" is another key; "KEY_PASSPHRASE=" or " passphrase=" is this one.
        if (found > 0 && isWordCharacter(text[found - 1])) continue;
        qsizetype valueEnd = text.indexOf('\n', valueStart);
        if (valueEnd < 0) valueEnd = text.size();
        if (valueEnd > valueStart && text[valueEnd - 1] == '\r') --valueEnd;
        if (valueEnd == valueStart) continue;
        masked += QStringView(text).mid(copied, valueStart - copied);
        masked += kMask;
        copied = valueEnd;
        searchFrom = valueEnd;
    }
    masked += QStringView(text).mid(copied);
    return masked;
}

}  // namespace korvane::connector
