#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::connector {

// Reply limits: an exchange or relay answer is a few KiB; anything near these is hostile.
constexpr size_t kMaxReplyBytes = 8u << 20;
constexpr size_t kMaxManifestBytes = 1u << 20;
constexpr size_t kMaxImageBytes = size_t{2} << 30;

// Transport exit codes, the numbers the curl command line returns for the same failures.
constexpr int kHttpBadArgument = 43;       // a request this client refuses to send
constexpr int kHttpTimedOut = 28;          // the deadline passed
constexpr int kHttpReplyTooLarge = 63;     // the reply passed its size limit
constexpr int kHttpErrorStatus = 22;       // `fail_on_http_error` and a status of 400 or more
constexpr int kHttpWriteFailed = 23;       // the reply could not be written to its file
constexpr int kHttpRedirectRefused = 1;    // a redirect led where the request may not go
constexpr int kHttpTooManyRedirects = 47;  // more redirects than a request follows

// What kept a request from getting its reply, as the transport sees it. Each kind says whether
// anything may have reached the server, which decides whether an order's outcome is known.
enum class TransportError {
    none,              // a reply arrived, whatever its status
    not_sent,          // refused before sending: a bad request, no connection, TLS or certificate
    redirect_refused,  // a redirect led where the request may not go; nothing followed it
    timed_out,         // the deadline passed; the request may have arrived
    too_large,         // the reply passed its size limit
    http_error,        // an error status, with fail_on_http_error
    write_failed,      // the reply could not be written to its file
    broken,            // the connection failed midway; the request may have arrived
};

// One HTTP request. Only http:// and https:// URLs are sent; certificates are always verified.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::string> headers;  // "Name: value" each, sent in order
    std::string body;                  // sent byte for byte; empty sends no body
    long timeout_ms = 20000;           // the whole exchange, connect to last byte
    size_t max_reply_bytes = kMaxReplyBytes;
    bool fail_on_http_error = false;   // a status of 400 or more is a failure (exit 22)
    bool follow_redirects = false;     // follow up to a few http(s) redirects
    // With follow_redirects: when set, every hop's absolute URL must pass it, else the request
    // fails with kHttpRedirectRefused.
    bool (*redirect_allowed)(std::string_view url) = nullptr;
    std::string output_path;           // when set, the reply body streams into this file
};

// What one request produced.
struct HttpResult {
    int exit_code = 0;    // the curl tool's number for the failure, as its message carries it; 0: none
    std::string body;     // the reply body; on failure "curl: (N) message", as the curl tool prints it
    long status = 0;      // the HTTP status of the reply; 0 when none arrived
    // The reply's header lines as "Name: value" (the final reply's, after any redirects), at
    // most kMaxReplyHeaders of them; exchanges say there when a refused request may be retried.
    std::vector<std::string> headers = {};
    TransportError error = TransportError::none;  // set with exit_code by http_failure

    // True when a reply arrived (whatever its status).
    bool ok() const { return error == TransportError::none; }
};

constexpr size_t kMaxReplyHeaders = 100;

// Returns the value of header `name` (case-insensitive) in `result`, surrounding white space
// removed; empty when the reply has none.
std::string reply_header(const HttpResult& result, const std::string& name);

// The network, as the rest of the program sees it. Production uses libcurl; tests use fakes.
class HttpClient {
  public:
    virtual ~HttpClient() = default;
    // Sends `request` and blocks until the reply arrived or the request failed.
    virtual HttpResult send(const HttpRequest& request) = 0;
    // True when `send` may be called from several threads at once; callers then send requests
    // that do not depend on each other side by side. A client that says false gets them one
    // after another, in order.
    virtual bool sends_side_by_side() const { return false; }
};

// Returns the failure result for `exit_code` (the curl tool's number for it) with `message`,
// worded as the curl tool words it; its kind follows from the number.
HttpResult http_failure(int exit_code, const std::string& message);

// Returns the kind of the transport failure the curl tool numbers `exit_code`.
TransportError transport_error_of(int exit_code);

}  // namespace korvane::connector
