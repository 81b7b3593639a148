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
    // Each returns the relay's reply unchanged (15 s limit), or a fixed error JSON when the
    // request did not complete.
    std::string bind_wallet(const std::string& wallet, const std::string& connector_id,
                            const std::string& label) const;
    std::string bind_status(const std::string& wallet, const std::string& connector_id) const;
    std::string claim_token(const std::string& token, const std::string& connector_id,
                            const std::string& label) const;

  private:
    HttpResult post_json(const std::string& path, const std::string& body) const;

    std::string server_url_;
    HttpClient& http_;
    bool connected_ = false;
};

// Returns the HTTP root of `relay_url`: ws:// becomes http://, wss:// becomes https://.
std::string relay_api_root(const std::string& relay_url);

}  // namespace korvane::connector
