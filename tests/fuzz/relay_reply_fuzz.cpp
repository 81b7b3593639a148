// Relay replies come from a server outside the program: the reader takes markers only from the
// top level of one JSON object, an error status never yields any, and whatever the reply holds
// the command prints exactly one JSON text.
// Input: the first byte picks the HTTP status (200 + byte), the reply body after it.

#include "connector/app/relay_output.h"
#include "connector/app/relay_reply_reader.h"
#include "connector/toolkit/json.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

void check_reply(std::string_view input) {
    if (input.empty()) return;
    const RelayReply reply{true, 200 + static_cast<unsigned char>(input[0]), std::string(input.substr(1)),
                           ""};
    const RelayMarkers markers = read_relay_markers(reply.body);
    const std::optional<Json> parsed = parse_json(reply.body);
    const bool object = parsed && parsed->is_object();
    if (!object) FUZZ_CHECK(markers.status.empty() && markers.bind_state.empty() && !markers.names_wallet);
    if (reply.body.find('\0') != std::string::npos) FUZZ_CHECK(!parsed);
    if (object && !markers.status.empty()) FUZZ_CHECK((*parsed)["status"] == markers.status);
    if (object && !markers.wallet.empty()) FUZZ_CHECK((*parsed)["wallet"] == markers.wallet);

    const RelayMarkers trusted = trusted_relay_markers(reply);
    if (!reply.succeeded()) FUZZ_CHECK(trusted.status.empty() && !trusted.waiting_for_signature);

    BindingAnswer answer;
    answer.kind = BindingAnswer::Kind::relay_reply;
    answer.reply = reply;
    answer.operation = "bind_status";
    const std::string printed = render_binding_answer(answer);
    FUZZ_CHECK(is_json_value(printed));
    FUZZ_CHECK(printed.find('\n') == std::string::npos || printed == reply.body);
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    korvane::connector::check_reply(korvane::connector::fuzz_text(data, size));
    return 0;
}
