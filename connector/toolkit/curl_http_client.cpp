#include "connector/toolkit/curl_http_client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>
#include <strings.h>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// Where the reply goes while it arrives: memory or a file, never past the limit.
struct ReplySink {
    std::string* memory = nullptr;
    int fd = -1;
    size_t limit = 0;
    size_t received = 0;
    bool too_large = false;
    bool write_failed = false;
};

size_t on_reply_bytes(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<ReplySink*>(context);
    const size_t bytes = size * count;
    // An unsized or chunked reply announces nothing, so the limit is also kept here.
    if (bytes > sink->limit - sink->received) {
        sink->too_large = true;
        return 0;
    }
    sink->received += bytes;
    if (sink->fd < 0) {
        sink->memory->append(data, bytes);
        return bytes;
    }
    size_t written = 0;
    while (written < bytes) {
        const ssize_t n = ::write(sink->fd, data + written, bytes - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            sink->write_failed = true;
            return 0;
        }
        written += static_cast<size_t>(n);
    }
    return bytes;
}

// A header with a line end would let a value smuggle further headers into the request.
bool is_safe_header(std::string_view header) {
    return header.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool has_header(const HttpRequest& request, std::string_view name) {
    for (const std::string& header : request.headers) {
        if (header.size() > name.size() && header[name.size()] == ':' &&
            strncasecmp(header.c_str(), name.data(), name.size()) == 0) {
            return true;
        }
    }
    return false;
}

// Only the web's two schemes: never file://, never anything a server could redirect us to.
// A request that started on https is never redirected to plain http.
void restrict_protocols(CURL* curl, bool https_only_redirects) {
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, https_only_redirects ? "https" : "http,https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS,
                     static_cast<long>(https_only_redirects ? CURLPROTO_HTTPS : CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
}

constexpr int kMaxRedirects = 5;
// Keeps the reply's header lines. A redirect's or an interim reply's lines are dropped when the
// next status line starts; lines past the count limit are ignored, never an error.
size_t on_header_line(char* data, size_t size, size_t count, void* context) {
    auto* lines = static_cast<std::vector<std::string>*>(context);
    const size_t bytes = size * count;
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.rfind("HTTP/", 0) == 0) {
        lines->clear();
    } else if (!line.empty() && line.size() <= 4096 && lines->size() < kMaxReplyHeaders) {
        lines->emplace_back(line);
    }
    return bytes;
}

std::string too_large_message(size_t limit) {
    return "reply too large: over " + std::to_string(limit) + " bytes";
}

}  // namespace

TransportError transport_error_of(int exit_code) {
    switch (exit_code) {
        case 0: return TransportError::none;
        case kHttpRedirectRefused: return TransportError::redirect_refused;
        case 3:                  // malformed URL
        case 5:                  // proxy name not resolved
        case 6:                  // host name not resolved
        case 7:                  // connection refused
        case 35:                 // TLS handshake failed
        case kHttpBadArgument:   // a request this client refuses to send
        case 51:                 // peer certificate not accepted
        case 53:                 // TLS engine missing
        case 58:                 // client certificate problem
        case 60:                 // certificate not trusted
        case 77:                 // CA bundle unreadable
        case 83:                 // TLS issuer check failed
        case 90:                 // pinned key mismatch
            return TransportError::not_sent;
        case kHttpTimedOut: return TransportError::timed_out;
        case kHttpReplyTooLarge: return TransportError::too_large;
        case kHttpErrorStatus: return TransportError::http_error;
        case kHttpWriteFailed: return TransportError::write_failed;
        default: return TransportError::broken;
    }
}

HttpResult http_failure(int exit_code, const std::string& message) {
    HttpResult result;
    result.exit_code = exit_code;
    result.error = transport_error_of(exit_code);
    result.body = "curl: (" + std::to_string(exit_code) + ") " + message;
    return result;
}

std::string reply_header(const HttpResult& result, const std::string& name) {
    for (const std::string& line : result.headers) {
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            const size_t start = line.find_first_not_of(" \t", name.size() + 1);
            if (start == std::string::npos) return "";
            const size_t end = line.find_last_not_of(" \t");
            return line.substr(start, end - start + 1);
        }
    }
    return "";
}

// The idle easy handles, each with the connections it keeps open and the origin it spoke to
// last. A request takes the handle that last spoke to its origin, so one after another the
// requests to a host share a connection; requests at the same time each take their own.
struct CurlHttpClient::Pool {
    std::mutex mutex;
    std::vector<std::pair<std::string, CURL*>> idle;
    bool initialised = false;

    CURL* take(const std::string& origin) {
        const std::lock_guard lock(mutex);
        if (!initialised) return nullptr;
        for (auto it = idle.begin(); it != idle.end(); ++it) {
            if (it->first != origin) continue;
            CURL* curl = it->second;
            idle.erase(it);
            return curl;
        }
        if (!idle.empty()) {
            CURL* curl = idle.back().second;
            idle.pop_back();
            return curl;
        }
        return curl_easy_init();
    }

    void give_back(const std::string& origin, CURL* curl) {
        const std::lock_guard lock(mutex);
        idle.emplace_back(origin, curl);
    }
};

namespace {

// Returns scheme, host and port of `url`: what decides whether a kept connection fits.
std::string origin_of(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t path = url.find_first_of("/?#", scheme == std::string::npos ? 0 : scheme + 3);
    return url.substr(0, path);
}

}  // namespace

CurlHttpClient::CurlHttpClient() : pool_(std::make_unique<Pool>()) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    pool_->initialised = initialised;
}

CurlHttpClient::~CurlHttpClient() {
    for (const auto& [origin, curl] : pool_->idle) curl_easy_cleanup(curl);
}

HttpResult CurlHttpClient::send(const HttpRequest& request) {
    const std::string origin = origin_of(request.url);
    CURL* curl = pool_->take(origin);
    if (curl == nullptr) return http_failure(2, "Failed to initialize");
    HttpResult result = perform(curl, request);
    pool_->give_back(origin, curl);
    return result;
}

HttpResult CurlHttpClient::perform(CURL* curl, const HttpRequest& request) {
    for (const std::string& header : request.headers) {
        if (!is_safe_header(header)) return http_failure(kHttpBadArgument, "header contains a line end");
    }
    if (request.timeout_ms <= 0) return http_failure(kHttpTimedOut, "Operation timed out before it started");

    HttpResult result;
    ReplySink sink;
    sink.memory = &result.body;
    sink.limit = request.max_reply_bytes;
    if (!request.output_path.empty()) {
        sink.fd = ::open(request.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (sink.fd < 0) return http_failure(kHttpWriteFailed, "Failed creating file " + request.output_path);
    }

    // Reset keeps the open connections, so the next request to a host reuses its connection.
    curl_easy_reset(curl);
    char error_text[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    restrict_protocols(curl, request.url.rfind("https://", 0) == 0);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeout_ms);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.max_reply_bytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_reply_bytes);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header_line);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headers);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, request.fail_on_http_error ? 1L : 0L);
    const bool manual_redirects = request.follow_redirects && request.redirect_allowed != nullptr;
    if (request.follow_redirects && !manual_redirects) {
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
    }
    // Verification stays on; a private CA file may replace the system's store, never disable it.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* bundle = std::getenv("KORVANE_CA_BUNDLE"); bundle != nullptr && *bundle != '\0') {
        curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
    }
    if (!has_header(request, "User-Agent")) {
        curl_easy_setopt(curl, CURLOPT_USERAGENT, "korvane-connector/" KORVANE_VERSION);
    }

    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (!request.body.empty()) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
        }
    }

    curl_slist* headers = nullptr;
    for (const std::string& header : request.headers) headers = curl_slist_append(headers, header.c_str());
    // libcurl would label a body as a form and may hold it back for "100 Continue"; the
    // request goes out exactly as the caller built it.
    if (!has_header(request, "Content-Type")) headers = curl_slist_append(headers, "Content-Type:");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    // Redirects the caller judges are followed here, one hop at a time, each checked first.
    for (int hop = 0; manual_redirects && code == CURLE_OK && result.status >= 300 && result.status < 400;
         ++hop) {
        const char* location = nullptr;
        if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || location == nullptr)
            break;
        const std::string next = location;
        if (hop == kMaxRedirects || !request.redirect_allowed(next)) {
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
            curl_slist_free_all(headers);
            if (sink.fd >= 0) ::close(sink.fd);
            return hop == kMaxRedirects
                       ? http_failure(kHttpTooManyRedirects, "Maximum (5) redirects followed")
                       : http_failure(kHttpRedirectRefused, "redirect refused: " + printable(next));
        }
        // The redirect's own body is not part of the reply.
        result.body.clear();
        sink.received = 0;
        if (sink.fd >= 0 && (::ftruncate(sink.fd, 0) != 0 || ::lseek(sink.fd, 0, SEEK_SET) != 0)) {
            sink.write_failed = true;
            break;
        }
        curl_easy_setopt(curl, CURLOPT_URL, next.c_str());
        code = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (sink.fd >= 0 && ::close(sink.fd) != 0 && code == CURLE_OK) sink.write_failed = true;

    if (sink.too_large || code == CURLE_FILESIZE_EXCEEDED) {
        return http_failure(kHttpReplyTooLarge, too_large_message(request.max_reply_bytes));
    }
    if (sink.write_failed) return http_failure(kHttpWriteFailed, "Failure writing output to destination");
    if (code != CURLE_OK) {
        return http_failure(static_cast<int>(code), *error_text != '\0' ? error_text : curl_easy_strerror(code));
    }
    return result;
}

}  // namespace korvane::connector
