// Manifest values steer a download: an accepted image URL must be one libcurl reads with the same
// scheme, and over plain http only to this machine; an accepted version must make a plain file
// name. Input: the URL, and the same text as a version.

#include <arpa/inet.h>
#include <curl/curl.h>

#include <memory>
#include <string>

#include "connector/updater/update_rules.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Returns the part libcurl reads from `url`; empty when it cannot read it.
std::string curl_part(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return "";
    const std::string value = text;
    curl_free(text);
    return value;
}

// True for a host libcurl connects to on this machine without asking a name server.
bool is_loopback_host(const std::string& host) {
    if (host == "localhost" || host == "[::1]") return true;
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

void check_url(const std::string& url) {
    if (!is_allowed_image_url(url)) return;
    const bool https = starts_with(url, "https://");
    FUZZ_CHECK(https || starts_with(url, "http://"));
    for (char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte > 0x20 && byte != 0x7F && c != '\\');
    }
    // What the download actually does with the URL.
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
    if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return;
    FUZZ_CHECK(curl_part(parsed.get(), CURLUPART_SCHEME) == (https ? "https" : "http"));
    FUZZ_CHECK(curl_part(parsed.get(), CURLUPART_USER).empty());
    if (!https) FUZZ_CHECK(is_loopback_host(curl_part(parsed.get(), CURLUPART_HOST)));
}

void check_version(const std::string& version) {
    const std::string allowed = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz.+_-";
    const bool expected =
        !version.empty() && version.size() <= 64 && version.find_first_not_of(allowed) == std::string::npos;
    FUZZ_CHECK(is_safe_version(version) == expected);
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(korvane::connector::fuzz_text(data, size));
    korvane::connector::check_url(text);
    korvane::connector::check_version(text);
    return 0;
}
