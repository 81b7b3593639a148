#include "connector/updater/update_signature.h"

#include <sodium.h>

namespace korvane::connector {
namespace {

// Returns the bytes `text` encodes in standard padded Base64; nullopt when it is anything else
// or does not decode to exactly `size` bytes.
std::optional<std::string> decode_exact(std::string_view text, size_t size) {
    if (sodium_init() < 0) return std::nullopt;
    // One byte of room more than wanted, so a longer value fails to fit instead of being cut.
    std::string bytes(size + 1, '\0');
    size_t length = 0;
    // No ignored characters and no end pointer: the whole text must be canonical Base64.
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                          text.size(), nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        length != size) {
        return std::nullopt;
    }
    bytes.resize(size);
    return bytes;
}

const unsigned char* as_bytes(std::string_view text) {
    // libsodium reads through the pointer even for an empty message; give it a valid one.
    static const unsigned char kNothing = 0;
    return text.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

std::optional<std::string> decode_update_public_key(std::string_view base64) {
    return decode_exact(base64, crypto_sign_PUBLICKEYBYTES);
}

std::string update_signed_text(std::string_view version, std::string_view sha256_hex) {
    return "korvane-connector-update:" + std::string(version) + ":" + std::string(sha256_hex);
}

bool verify_update_signature(std::string_view version, std::string_view sha256_hex,
                             std::string_view signature_base64, std::string_view public_key) {
    if (public_key.size() != crypto_sign_PUBLICKEYBYTES) return false;
    const std::optional<std::string> signature = decode_exact(signature_base64, crypto_sign_BYTES);
    if (!signature) return false;
    const std::string text = update_signed_text(version, sha256_hex);
    return crypto_sign_verify_detached(as_bytes(*signature), as_bytes(text), text.size(),
                                       as_bytes(public_key)) == 0;
}

}  // namespace korvane::connector
