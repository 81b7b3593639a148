#include "connector/relay/relay_client.h"

#include "connector/toolkit/json.h"

namespace korvane::connector {
namespace {

constexpr long kHealthLimitMs = 10000;
constexpr long kRequestLimitMs = 15000;

RelayReply reply_or(const HttpResult& reply, const char* reason) {
    if (reply.ok()) return RelayReply{true, reply.status, reply.body, ""};
    return RelayReply{false, 0, "", reason};
}

}  // namespace

std::string percent_encode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '_' || c == '~' || c == '-' || c == ':';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string relay_api_root(const std::string& relay_url) {
    if (relay_url.rfind("ws://", 0) == 0) return "http://" + relay_url.substr(5);
    if (relay_url.rfind("wss://", 0) == 0) return "https://" + relay_url.substr(6);
    return relay_url;
}

bool RelayClient::connect() {
    connected_ = !server_url_.empty();
    return connected_;
}

ServerStatus RelayClient::health(const std::string& wallet_address) const {
    ServerStatus status{server_url_, false, "disconnected", "", wallet_address};
    if (server_url_.empty()) {
        status.message = "relay url missing";
        return status;
    }
    HttpRequest request;
    request.url = relay_api_root(server_url_) + "/api/security/config";
    request.timeout_ms = kHealthLimitMs;
    const HttpResult reply = http_.send(request);
    status.reachable = reply.ok();
    status.health_status = status.reachable ? "reachable" : "unreachable";
    status.message = status.reachable ? reply.body : "relay health request failed";
    return status;
}

HttpResult RelayClient::post_json(const std::string& path, const std::string& body) const {
    HttpRequest request;
    request.method = "POST";
    request.url = relay_api_root(server_url_) + path;
    request.headers = {"Content-Type: application/json"};
    request.body = body;
    request.timeout_ms = kRequestLimitMs;
    return http_.send(request);
}

// Values are JSON-escaped into the bodies, so a quote in a token cannot rewrite the request.
RelayReply RelayClient::bind_wallet(const std::string& wallet, const std::string& connector_id,
                                    const std::string& label) const {
    const std::string body =
        JsonObject().add("wallet", wallet).add("connectorId", connector_id).add("connectorLabel", label).str();
    return reply_or(post_json("/api/connector/bind", body), "bind_request_failed");
}

RelayReply RelayClient::bind_status(const std::string& wallet, const std::string& connector_id) const {
    HttpRequest request;
    request.url = relay_api_root(server_url_) +
                  "/api/connector/bind-status?connectorId=" + percent_encode(connector_id);
    if (!wallet.empty()) request.headers = {"x-korvane-wallet: " + wallet};
    request.timeout_ms = kRequestLimitMs;
    return reply_or(http_.send(request), "bind_status_failed");
}

RelayReply RelayClient::claim_token(const std::string& token, const std::string& connector_id,
                                    const std::string& label) const {
    const std::string body =
        JsonObject().add("token", token).add("connectorId", connector_id).add("connectorLabel", label).str();
    return reply_or(post_json("/api/connector/claim-token", body), "claim_token_failed");
}

}  // namespace korvane::connector
