#include "connector/toolkit/digest.h"

#include "connector/toolkit/sha2.h"

namespace korvane::connector {

// The digests are computed in-process rather than by piping through openssl: the same bytes
// come out, a request costs no extra processes, and the API secret never appears in the
// argument list of a child process, where any local user could read it.

std::string hex_encode(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
    }
    return out;
}

std::string base64_encode(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
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
    return hex_encode(sha512_raw(message));
}

}  // namespace korvane::connector
