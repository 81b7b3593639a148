// The session bus's answer is read from a socket: whatever arrives, the reader must neither run
// past the bytes it was given nor claim a message larger than they are, and a message it builds
// itself must read back as what it said. Bus addresses come from the environment and must give
// only unix sockets.

#include "connector/state/dbus_wire.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

void check_read(std::string_view bytes) {
    DbusMessage message;
    size_t size = 0;
    const DbusRead read = read_dbus_message(bytes, message, size);
    if (read != DbusRead::message) return;
    FUZZ_CHECK(size > 0 && size <= bytes.size());
    FUZZ_CHECK(message.body.size() < size);
    // Reading the same message alone gives the same answer.
    DbusMessage again;
    size_t again_size = 0;
    FUZZ_CHECK(read_dbus_message(bytes.substr(0, size), again, again_size) == DbusRead::message);
    FUZZ_CHECK(again_size == size && again.body == message.body && again.signature == message.signature);
    // Any shorter prefix is only ever incomplete or malformed, never another message.
    DbusMessage cut;
    size_t cut_size = 0;
    FUZZ_CHECK(read_dbus_message(bytes.substr(0, size - 1), cut, cut_size) != DbusRead::message);
    dbus_boolean_reply(message);
}

void check_round_trip(std::string_view text) {
    const std::string argument(text.substr(0, 200));
    const std::string call = dbus_method_call(7, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "NameHasOwner", argument);
    DbusMessage message;
    size_t size = 0;
    if (argument.find('\0') != std::string::npos) return;
    FUZZ_CHECK(read_dbus_message(call, message, size) == DbusRead::message);
    FUZZ_CHECK(size == call.size() && message.type == 1 && message.signature == "s");
}

void check_addresses(std::string_view text) {
    const std::string address(text);
    for (const BusSocket& socket : session_bus_sockets(address.c_str(), nullptr)) {
        FUZZ_CHECK(!socket.path.empty() || socket.abstract_name);
        FUZZ_CHECK(bus_address_text(socket).rfind("unix:", 0) == 0);
    }
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = korvane::connector::fuzz_text(data, size);
    korvane::connector::check_read(bytes);
    korvane::connector::check_round_trip(bytes);
    korvane::connector::check_addresses(bytes);
    return 0;
}
