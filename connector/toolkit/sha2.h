#pragma once

#include <string>
#include <string_view>

namespace korvane::connector {

// SHA-2 digests (FIPS 180-4) computed in-process; each returns the raw digest bytes.
std::string sha256_raw(std::string_view message);
std::string sha512_raw(std::string_view message);

// HMAC (RFC 2104) over the digests above; returns the raw MAC bytes.
std::string hmac_sha256_raw(std::string_view key, std::string_view message);
std::string hmac_sha512_raw(std::string_view key, std::string_view message);

}  // namespace korvane::connector
