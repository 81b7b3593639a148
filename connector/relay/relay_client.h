#pragma once

#include <string>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// Outcome of the relay health request.
struct ServerStatus {
    std::string relay_url;
    bool reachable = false;
    std::string health_status;  // "disconnected", "reachable" or "unreachable"
    std::string message;        // the relay's reply when reachable, else a fixed text
    std::string wallet_address;
};

// What one relay request produced. The relay is outside the program: `body` is whatever came
// back and is read only through the JSON parser.
struct RelayReply {
    bool delivered = false;  // a reply arrived (whatever its HTTP status)
    long http_status = 0;    // the reply's HTTP status; 0 when none arrived
    std::string body;        // the reply body; empty when none arrived
    std::string failure;     // when not delivered: the operation's failure reason, e.g. "bind_status_failed"

    // Returns true for a delivered reply with a 2xx status: the only replies that may change state.
    bool succeeded() const { return delivered && http_status >= 200 && http_status < 300; }
};

// Thin client of the relay's connector API: one HTTP request per operation.
class RelayClient {
  public:
    // Keeps the URL and the client, which must outlive this one.
    RelayClient(std::string server_url, HttpClient& http) : server_url_(std::move(server_url)), http_(http) {}

    // Returns and remembers whether a relay URL is configured; sends nothing.
    bool connect();
    bool connected() const { return connected_; }
    const std::string& server_url() const { return server_url_; }

    // Returns the reachability of the relay's security configuration endpoint (10 s limit).
    ServerStatus health(const std::string& wallet_address) const;
    // Each returns the relay's reply (15 s limit); when the request did not complete, a reply
    // that is not delivered and names the operation's failure ("bind_request_failed",
    // "bind_status_failed", "claim_token_failed"). Values are JSON-escaped into bodies and
    // percent-encoded into the query.
    RelayReply bind_wallet(const std::string& wallet, const std::string& connector_id,
                           const std::string& label) const;
    RelayReply bind_status(const std::string& wallet, const std::string& connector_id) const;
    RelayReply claim_token(const std::string& token, const std::string& connector_id,
                           const std::string& label) const;

  private:
    HttpResult post_json(const std::string& path, const std::string& body) const;

    std::string server_url_;
    HttpClient& http_;
    bool connected_ = false;
};

// Returns `text` for a query value: every byte outside [A-Za-z0-9._~:-] written as %XX
// (upper-case hex). ":" may stand in a query as it is, and device ids hold it.
std::string percent_encode(const std::string& text);

// Returns the HTTP root of `relay_url`: ws:// becomes http://, wss:// becomes https://.
std::string relay_api_root(const std::string& relay_url);

}  // namespace korvane::connector
