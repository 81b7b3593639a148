#include "gui/output_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace korvane::connector {
namespace {

QJsonValue parseWhole(const QString& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return QJsonValue(QJsonValue::Undefined);
    if (document.isArray()) return document.array();
    if (document.isObject()) return document.object();
    return QJsonValue(QJsonValue::Undefined);
}

}  // namespace

std::optional<QString> lineValue(const QString& output, const QString& key) {
    const QString prefix = key + "=";
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(prefix)) return line.mid(prefix.size());
    }
    return std::nullopt;
}

QString oneShortLine(const QString& text, int limit) {
    QString line = text.simplified();
    if (line.size() <= limit) return line;
    // Cut at a word boundary when one is near, so the ellipsis does not split a word.
    int cut = limit - 1;
    const int space = line.lastIndexOf(' ', cut);
    if (space > limit * 2 / 3) cut = space;
    return line.left(cut).trimmed() + QChar(0x2026);
}

QString firstShortLine(const QString& text, int limit) {
    for (const QString& line : text.split('\n')) {
        if (!line.trimmed().isEmpty()) return oneShortLine(line, limit);
    }
    return {};
}

QString reasonWords(const QString& reason) {
    QString words = reason;
    words.replace('_', ' ');
    return words.simplified();
}

QJsonValue jsonIn(const QString& text) {
    const qsizetype object = text.indexOf('{');
    const qsizetype array = text.indexOf('[');
    qsizetype start = object;
    if (start < 0 || (array >= 0 && array < start)) start = array;
    if (start < 0) return QJsonValue(QJsonValue::Undefined);
    const QJsonValue whole = parseWhole(text.mid(start));
    if (!whole.isUndefined()) return whole;
    // Something may follow the value (a second line, a note): try up to the last closing bracket.
    const qsizetype end = text.lastIndexOf(text[start] == '{' ? '}' : ']');
    if (end <= start) return QJsonValue(QJsonValue::Undefined);
    return parseWhole(text.mid(start, end - start + 1));
}

}  // namespace korvane::connector
