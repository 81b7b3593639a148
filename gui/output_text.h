#pragma once

#include <QJsonValue>
#include <QString>
#include <optional>

namespace korvane::connector {

// Returns the value after "key=" on the first line of `output` that starts so (possibly empty);
// empty when no line does. Nothing is trimmed.
std::optional<QString> lineValue(const QString& output, const QString& key);

// Returns `text` on one line (line ends and runs of white space become one space, ends trimmed),
// cut to at most `limit` characters with a trailing ellipsis when it was longer.
QString oneShortLine(const QString& text, int limit = 120);

// Returns the first line of `text` that has visible characters, as oneShortLine gives it; empty
// when there is none.
QString firstShortLine(const QString& text, int limit = 120);

// Returns a reason word such as "token_not_found" as plain words: "token not found".
QString reasonWords(const QString& reason);

// Returns the JSON object or array that starts at the first '{' or '[' of `text` (text after the
// value is ignored); an undefined value when there is none or it does not parse.
QJsonValue jsonIn(const QString& text);

}  // namespace korvane::connector
