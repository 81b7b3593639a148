#pragma once

#include <sodium.h>

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

// Streams a SHA-256 digest over data read piece by piece.
class Sha256Stream {
  public:
    Sha256Stream();
    void add(std::string_view bytes);
    // Returns the digest as 64 lowercase hex digits; call once, after the last add.
    std::string hex();

  private:
    crypto_hash_sha256_state state_{};
};

}  // namespace korvane::connector
