#include "connector/state/dbus_wire.h"

#include <gtest/gtest.h>

namespace korvane::connector {
namespace {

using namespace std::string_literals;

TEST(SessionBusSockets, ReadsUnixSocketsFromTheAddressOrTheRuntimeFolder) {
    const struct {
        const char* address;
        const char* runtime_dir;
        std::vector<BusSocket> sockets;
    } cases[] = {
        {"unix:path=/run/user/1000/bus", "/ignored", {{"/run/user/1000/bus", false}}},
        {"unix:path=/tmp/dbus-x,guid=0123abcd", nullptr, {{"/tmp/dbus-x", false}}},
        {"unix:guid=1,abstract=/tmp/dbus-A1", nullptr, {{"/tmp/dbus-A1", true}}},
        {"unix:path=/tmp/with%20space%2c", nullptr, {{"/tmp/with space,", false}}},
        {"tcp:host=localhost,port=1;unix:path=/b;autolaunch:", nullptr, {{"/b", false}}},
        // Nothing a socket can be opened on: no bus, and never an autolaunched one.
        {"autolaunch:", "/run/user/0", {}},
        {"unix:path=/bad%2", nullptr, {}},
        {"unix:path=/bad%zz", nullptr, {}},
        {"unix:path=", nullptr, {}},
        {"unix:tmpdir=/tmp", nullptr, {}},
        {"", "/run/user/7", {{"/run/user/7/bus", false}}},
        {nullptr, "/run/user/7", {{"/run/user/7/bus", false}}},
        {nullptr, nullptr, {}},
        {nullptr, "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(session_bus_sockets(c.address, c.runtime_dir), c.sockets)
            << (c.address ? c.address : "(unset)") << " / " << (c.runtime_dir ? c.runtime_dir : "(unset)");
    }
}

TEST(SessionBusSockets, AddressTextReadsBackAsTheSameSocket) {
    for (const BusSocket& socket : {BusSocket{"/run/user/1000/bus", false},
                                    BusSocket{"/tmp/a b,c;d=e%", false}, BusSocket{"/tmp/dbus-XYZ", true}}) {
        const std::string text = bus_address_text(socket);
        EXPECT_EQ(text.find_first_of(" ,;"), std::string::npos) << text;
        EXPECT_EQ(session_bus_sockets(text.c_str(), nullptr), std::vector<BusSocket>{socket}) << text;
    }
    EXPECT_EQ(bus_address_text({"/run/user/0/bus", false}), "unix:path=/run/user/0/bus");
}

TEST(DbusMessages, HelloHasTheProtocolsLayout) {
    const std::string expected =
        "l\1\0\1\0\0\0\0\1\0\0\0m\0\0\0"
        "\1\1o\0\25\0\0\0/org/freedesktop/DBus\0\0\0"
        "\2\1s\0\24\0\0\0org.freedesktop.DBus\0\0\0\0"
        "\3\1s\0\5\0\0\0Hello\0\0\0"
        "\6\1s\0\24\0\0\0org.freedesktop.DBus\0\0\0\0"s;  // the header ends on 8 bytes
    EXPECT_EQ(dbus_method_call(1, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "Hello", std::nullopt),
              expected);
}

TEST(DbusMessages, MethodCallWithAStringReadsBack) {
    const std::string call =
        dbus_method_call(2, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", "org.freedesktop.secrets");
    DbusMessage message;
    size_t size = 0;
    ASSERT_EQ(read_dbus_message(call + "next", message, size), DbusRead::message);
    EXPECT_EQ(size, call.size());
    EXPECT_EQ(message.type, 1);
    EXPECT_EQ(message.signature, "s");
    EXPECT_EQ(message.body, "\27\0\0\0org.freedesktop.secrets\0"s);
    EXPECT_FALSE(message.reply_serial.has_value());
}

// A method return as the bus sends it: reply serial, destination, signature "b", sender; the
// body a boolean.
std::string little_endian_reply(char value) {
    return "l\2\1\1\4\0\0\0\3\0\0\0\75\0\0\0"
           "\5\1u\0\2\0\0\0"
           "\6\1s\0\4\0\0\0:1.1\0\0\0\0"
           "\10\1g\0\1b\0\0"
           "\7\1s\0\24\0\0\0org.freedesktop.DBus\0\0\0\0"s +
           std::string{value, 0, 0, 0};
}

TEST(DbusMessages, ReadsBooleanRepliesInEitherByteOrder) {
    const std::string big_endian =
        "B\2\1\1\0\0\0\4\0\0\0\3\0\0\0\17"
        "\5\1u\0\0\0\0\2"
        "\10\1g\0\1b\0\0"
        "\0\0\0\1"s;
    const struct {
        std::string bytes;
        std::optional<bool> answer;
    } cases[] = {
        {little_endian_reply(1), true},
        {little_endian_reply(0), false},
        {little_endian_reply(2), std::nullopt},
        {big_endian, true},
    };
    for (const auto& c : cases) {
        DbusMessage message;
        size_t size = 0;
        ASSERT_EQ(read_dbus_message(c.bytes, message, size), DbusRead::message);
        EXPECT_EQ(size, c.bytes.size());
        EXPECT_EQ(message.reply_serial, 2u);
        EXPECT_EQ(dbus_boolean_reply(message), c.answer);
    }
}

TEST(DbusMessages, ShortDamagedOrHugeInputNeverReadsAsAWholeMessage) {
    const std::string reply = little_endian_reply(1);
    DbusMessage message;
    size_t size = 0;
    for (size_t length = 0; length < reply.size(); ++length) {
        EXPECT_EQ(read_dbus_message(reply.substr(0, length), message, size), DbusRead::incomplete) << length;
    }
    const struct {
        const char* name;
        size_t at;
        char value;
    } damages[] = {
        {"byte order", 0, 'x'},
        {"version", 3, 2},
        {"body length past 64 KiB", 6, 1},
        {"fields length past the message", 14, 1},
        {"field type unknown", 18, 'v'},
        {"signature length past the fields", 17, 40},
        {"string length past the fields", 28, 100},
    };
    for (const auto& d : damages) {
        std::string damaged = reply;
        damaged[d.at] = d.value;
        const DbusRead read = read_dbus_message(damaged, message, size);
        EXPECT_TRUE(read == DbusRead::malformed || read == DbusRead::incomplete) << d.name;
    }
    // Every other single-byte change either reads within bounds or is refused.
    for (size_t at = 0; at < reply.size(); ++at) {
        for (const char value : {'\0', '\x7f', '\xff', 'B', 'l'}) {
            std::string damaged = reply;
            damaged[at] = value;
            if (read_dbus_message(damaged, message, size) == DbusRead::message) {
                EXPECT_LE(size, damaged.size());
                dbus_boolean_reply(message);
            }
        }
    }
}

}  // namespace
}  // namespace korvane::connector
