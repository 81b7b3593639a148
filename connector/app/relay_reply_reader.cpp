#include "connector/app/relay_reply_reader.h"

#include "connector/toolkit/json.h"

namespace korvane::connector {
namespace {

std::string string_member(const Json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

}  // namespace

RelayMarkers read_relay_markers(const std::string& body) {
    RelayMarkers markers;
    const std::optional<Json> value = parse_json(body);
    if (!value || !value->is_object()) return markers;
    markers.status = string_member(*value, "status");
    markers.bind_state = string_member(*value, "bindState");
    markers.reason = string_member(*value, "reason");
    const auto waiting = value->find("waiting_for_signature");
    markers.waiting_for_signature = waiting != value->end() && waiting->is_boolean() && waiting->get<bool>();
    const auto wallet = value->find("wallet");
    markers.names_wallet = wallet != value->end() && !wallet->is_null();
    markers.wallet = string_member(*value, "wallet");
    return markers;
}

RelayMarkers trusted_relay_markers(const RelayReply& reply) {
    return reply.succeeded() ? read_relay_markers(reply.body) : RelayMarkers{};
}

}  // namespace korvane::connector
