#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane::connector {

// Returns the 32 raw bytes of the Ed25519 public key whose standard Base64 text (RFC 4648,
// padded, nothing before or after it) is `base64`; nullopt for anything else.
std::optional<std::string> decode_update_public_key(std::string_view base64);

// Returns the text an update's "ed25519" signature signs: "korvane-connector-update:" + version
// + ":" + the image's SHA-256 as lowercase hex. Signing the version with the image's digest
// means no version can be put on another image, an older one included.
std::string update_signed_text(std::string_view version, std::string_view sha256_hex);

// Returns true when `signature_base64`, the standard Base64 text of a 64-byte Ed25519
// signature, signs update_signed_text(version, sha256_hex) under `public_key` (32 raw bytes).
// False when the signature does not match or is malformed, or the key is not 32 bytes.
bool verify_update_signature(std::string_view version, std::string_view sha256_hex,
                             std::string_view signature_base64, std::string_view public_key);

}  // namespace korvane::connector
