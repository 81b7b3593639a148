#pragma once

#include <QString>

namespace korvane::connector {

// Returns the plain words for an exchange refusal class ("credentials", "permission",
// "ip_not_allowed", "timestamp", "rate_limited", ...); empty for an unknown class.
QString refusalClassWords(const QString& refusalClass);

// Returns `text` with transport jargon (curl errors, "http failed", raw signature errors) put in
// plain words; other text comes back as one short line.
QString transportWords(const QString& text);

}  // namespace korvane::connector
