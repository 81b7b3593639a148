#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane::connector {

// Returns the 32 raw bytes of the Ed25519 public key whose standard Base64 text (RFC 4648,
// padded, nothing before or after it) is `base64`; nullopt for anything else.
std::optional<std::string> decode_update_public_key(std::string_view base64);

// Returns true when `signature_base64`, the standard Base64 text of a 64-byte Ed25519
// signature, signs the whole content of the file at `path` under `public_key` (32 raw bytes).
// False when the signature does not match or is malformed, the key is not 32 bytes, or the
// file cannot be read. The file is mapped rather than read, so a large image is never copied
// into memory.
bool verify_file_signature(const std::string& path, std::string_view signature_base64,
                           std::string_view public_key);

}  // namespace korvane::connector
