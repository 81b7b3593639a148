#pragma once

#include <string>

#include "connector/relay/relay_client.h"

namespace korvane::connector {

// The members of a relay reply the binding workflow acts on, read from the top level of the
// parsed reply: a word nested deeper, or standing in a message, is not one of them.
struct RelayMarkers {
    std::string status;
    std::string bind_state;
    std::string reason;
    bool waiting_for_signature = false;  // the member is the JSON value true
    bool names_wallet = false;           // a "wallet" member other than null is present
    std::string wallet;                  // its value when it is a string
};

// Returns the markers of `body`; none when it is not one JSON object (a NUL byte included).
RelayMarkers read_relay_markers(const std::string& body);

// Returns the markers of a reply that may change state: delivered with a 2xx status. An error
// reply may say anything (another binding's wallet, a state word in a message) and never binds.
RelayMarkers trusted_relay_markers(const RelayReply& reply);

}  // namespace korvane::connector
