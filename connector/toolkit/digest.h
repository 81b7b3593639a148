#pragma once

#include <string>
#include <string_view>

namespace korvane::connector {

// Digests, MACs and encodings, all computed by libsodium.

// Returns `bytes` as lowercase hexadecimal.
std::string hex_encode(std::string_view bytes);

// Returns `bytes` as standard Base64 (RFC 4648, with padding) on one line.
std::string base64_encode(std::string_view bytes);

// Signing digests of the exchange adapters. The secret comes first, the message second.
// Returns 64 lowercase hex digits.
std::string hmac_sha256_hex(const std::string& secret, const std::string& message);
// Returns 128 lowercase hex digits.
std::string hmac_sha512_hex(const std::string& secret, const std::string& message);
// Returns the Base64 text of the 32-byte MAC.
std::string hmac_sha256_base64(const std::string& secret, const std::string& message);
// Returns 128 lowercase hex digits.
std::string sha512_hex(const std::string& message);
// Returns 64 lowercase hex digits.
std::string sha256_hex(std::string_view message);

}  // namespace korvane::connector
