#include "connector/toolkit/digest.h"

#include <sodium.h>

namespace korvane::connector {
namespace {

// Readies libsodium once per process (sodium_init is safe to call from several threads, and
// the static makes later calls free). The hashes and MACs below use no random numbers, so they
// are correct even in the unlikely case that the random source could not be set up.
void ready_sodium() {
    [[maybe_unused]] static const int initialised = sodium_init();
}

// libsodium reads through the pointer even for an empty input; give it a valid one.
const unsigned char* bytes_of(std::string_view text) {
    static const unsigned char kNothing = 0;
    return text.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(text.data());
}

std::string as_text(const unsigned char* bytes, size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

// HMAC (RFC 2104): libsodium's init takes a key of any length and hashes one longer than the
// block first, as the RFC asks.
std::string hmac_sha256_raw(std::string_view key, std::string_view message) {
    ready_sodium();
    crypto_auth_hmacsha256_state state;
    unsigned char mac[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_init(&state, bytes_of(key), key.size());
    crypto_auth_hmacsha256_update(&state, bytes_of(message), message.size());
    crypto_auth_hmacsha256_final(&state, mac);
    sodium_memzero(&state, sizeof state);  // it holds the padded key
    return as_text(mac, sizeof mac);
}

std::string hmac_sha512_raw(std::string_view key, std::string_view message) {
    ready_sodium();
    crypto_auth_hmacsha512_state state;
    unsigned char mac[crypto_auth_hmacsha512_BYTES];
    crypto_auth_hmacsha512_init(&state, bytes_of(key), key.size());
    crypto_auth_hmacsha512_update(&state, bytes_of(message), message.size());
    crypto_auth_hmacsha512_final(&state, mac);
    sodium_memzero(&state, sizeof state);
    return as_text(mac, sizeof mac);
}

}  // namespace

std::string hex_encode(std::string_view bytes) {
    ready_sodium();
    std::string out(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes_of(bytes), bytes.size());
    out.pop_back();  // the terminating zero
    return out;
}

std::string base64_encode(std::string_view bytes) {
    ready_sodium();
    constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;  // standard alphabet, padded
    std::string out(sodium_base64_ENCODED_LEN(bytes.size(), kVariant), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes_of(bytes), bytes.size(), kVariant);
    out.pop_back();
    return out;
}

std::string hmac_sha256_hex(const std::string& secret, const std::string& message) {
    return hex_encode(hmac_sha256_raw(secret, message));
}

std::string hmac_sha512_hex(const std::string& secret, const std::string& message) {
    return hex_encode(hmac_sha512_raw(secret, message));
}

std::string hmac_sha256_base64(const std::string& secret, const std::string& message) {
    return base64_encode(hmac_sha256_raw(secret, message));
}

std::string sha512_hex(const std::string& message) {
    ready_sodium();
    unsigned char digest[crypto_hash_sha512_BYTES];
    crypto_hash_sha512(digest, bytes_of(message), message.size());
    return hex_encode(as_text(digest, sizeof digest));
}

std::string sha256_hex(std::string_view message) {
    ready_sodium();
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, bytes_of(message), message.size());
    return hex_encode(as_text(digest, sizeof digest));
}

Sha256Stream::Sha256Stream() {
    ready_sodium();
    crypto_hash_sha256_init(&state_);
}

void Sha256Stream::add(std::string_view bytes) {
    crypto_hash_sha256_update(&state_, bytes_of(bytes), bytes.size());
}

std::string Sha256Stream::hex() {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state_, digest);
    return hex_encode(as_text(digest, sizeof digest));
}

}  // namespace korvane::connector
