#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "connector/state/dbus_wire.h"

namespace korvane::connector {

// Asks the session bus, over its socket and without any D-Bus library, whether `name` has an
// owner. NameHasOwner starts no service, and nothing here starts a bus. Tries `sockets` in
// order; the first that accepts a connection answers. Returns that socket when the answer is
// yes; empty when it is no, when no socket accepts, or when nothing answers within `timeout`.
std::optional<BusSocket> bus_name_owner_socket(const std::vector<BusSocket>& sockets, const std::string& name,
                                               std::chrono::milliseconds timeout);

}  // namespace korvane::connector
