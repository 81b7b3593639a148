#pragma once

#include <string>

namespace korvane::connector {

// Where the session bus is, as the environment tells it; nothing here starts a bus.
struct SessionBusPlace {
    std::string address;      // the unix-socket entries of DBUS_SESSION_BUS_ADDRESS, ";"-separated
    std::string socket_path;  // else the runtime folder's "bus" socket, when it exists
};

// Returns the session bus named by `address` (DBUS_SESSION_BUS_ADDRESS) when it is set and not
// empty, else by `runtime_dir` (XDG_RUNTIME_DIR). Only unix-socket entries are kept: tcp,
// autolaunch and the rest are left out, so the bus is never launched nor reached over a network.
// Both fields are empty when there is no bus to use.
SessionBusPlace session_bus_place(const char* address, const char* runtime_dir);

}  // namespace korvane::connector
