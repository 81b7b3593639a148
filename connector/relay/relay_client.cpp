#include "connector/relay/relay_client.h"

#include "connector/toolkit/shell.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

std::string reply_or(const CommandOutput& run, const char* reason) {
    if (run.exit_code == 0) return run.output;
    return std::string("{\"status\":\"error\",\"reason\":\"") + reason + "\"}";
}

std::string post_json(const std::string& url, const std::string& body) {
    return "curl -sS --max-time 15 -X POST -H 'Content-Type: application/json' --data " + shell_escape(body) +
           " " + shell_escape(url);
}

}  // namespace

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
    const CommandOutput run = run_command("curl -sS --max-time 10 " +
                                          shell_escape(relay_api_root(server_url_) + "/api/security/config"));
    status.reachable = run.exit_code == 0;
    status.health_status = status.reachable ? "reachable" : "unreachable";
    status.message = status.reachable ? run.output : "relay health request failed";
    return status;
}

// Values are JSON-escaped into the bodies, so a quote in a token cannot rewrite the request.
std::string RelayClient::bind_wallet(const std::string& wallet, const std::string& connector_id) const {
    const std::string body = "{\"wallet\":\"" + json_escape(wallet) + "\",\"connectorId\":\"" +
                             json_escape(connector_id) + "\",\"connectorLabel\":\"macOS connector\"}";
    return reply_or(run_command(post_json(relay_api_root(server_url_) + "/api/connector/bind", body)),
                    "bind_request_failed");
}

std::string RelayClient::bind_status(const std::string& wallet, const std::string& connector_id) const {
    std::string command = "curl -sS --max-time 15 ";
    if (!wallet.empty()) command += "-H " + shell_escape("x-korvane-wallet: " + wallet) + " ";
    command +=
        shell_escape(relay_api_root(server_url_) + "/api/connector/bind-status?connectorId=" + connector_id);
    return reply_or(run_command(command), "bind_status_failed");
}

std::string RelayClient::claim_token(const std::string& token, const std::string& connector_id,
                                     const std::string& label) const {
    const std::string body = "{\"token\":\"" + json_escape(token) + "\",\"connectorId\":\"" +
                             json_escape(connector_id) + "\",\"connectorLabel\":\"" + json_escape(label) +
                             "\"}";
    return reply_or(run_command(post_json(relay_api_root(server_url_) + "/api/connector/claim-token", body)),
                    "claim_token_failed");
}

}  // namespace korvane::connector
