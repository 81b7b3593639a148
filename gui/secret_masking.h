#pragma once

#include <QString>

namespace korvane::connector {

// Returns `text` with the value after every "api_secret=" and "passphrase=" (any case, not in
// the middle of a longer word) replaced by a fixed run of dots up to the end of its line. An
// empty value stays empty.
QString maskSecrets(const QString& text);

}  // namespace korvane::connector
