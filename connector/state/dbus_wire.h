#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::connector {

// The little of the D-Bus wire format the connector needs to ask the session bus one question
// without loading a D-Bus library: session bus addresses, a method call out and its reply in.

// A socket a D-Bus address names: a file system path, or a Linux abstract socket name.
struct BusSocket {
    std::string path;
    bool abstract_name = false;

    bool operator==(const BusSocket&) const = default;
};

// Returns the sockets of the session bus, in the order to try them: those of `address` (the
// value of DBUS_SESSION_BUS_ADDRESS: entries separated by ";", values %-escaped), else
// `runtime_dir` + "/bus" when `runtime_dir` (XDG_RUNTIME_DIR) is given. Transports other than
// unix sockets (tcp, autolaunch, ...) are left out, so an empty result means "no bus to use".
std::vector<BusSocket> session_bus_sockets(const char* address, const char* runtime_dir);

// Returns the D-Bus address text of `socket` (unix:path=... or unix:abstract=..., escaped).
std::string bus_address_text(const BusSocket& socket);

// Returns a little-endian method call message with serial `serial`: the method `member` of
// `interface` on object `path` of `destination`, with one string argument when one is given.
std::string dbus_method_call(uint32_t serial, const std::string& destination, const std::string& path,
                             const std::string& interface, const std::string& member,
                             const std::optional<std::string>& string_argument);

// What the connector reads of one message.
struct DbusMessage {
    uint8_t type = 0;  // 1 call, 2 method return, 3 error, 4 signal
    std::optional<uint32_t> reply_serial;
    std::string signature;  // of the body; empty when it has none
    std::string body;
    bool big_endian = false;
};

enum class DbusRead { message, incomplete, malformed };

// Reads the message at the start of `bytes` into `message` and its length into `size`.
// Returns incomplete when more bytes are needed, malformed when they cannot be a message (or
// one larger than 64 KiB, far beyond any answer the connector asks for).
DbusRead read_dbus_message(std::string_view bytes, DbusMessage& message, size_t& size);

// Returns the boolean a method return carries (body signature "b"); empty for anything else.
std::optional<bool> dbus_boolean_reply(const DbusMessage& message);

}  // namespace korvane::connector
