#include "connector/state/dbus_wire.h"

namespace korvane::connector {
namespace {

constexpr size_t kMaxMessage = 64 * 1024;
constexpr size_t kFixedHeader = 16;

size_t aligned(size_t offset, size_t boundary) {
    return (offset + boundary - 1) / boundary * boundary;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Returns `value` with its %XX escapes decoded; empty when an escape is broken.
std::optional<std::string> unescaped(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out += value[i];
            continue;
        }
        if (i + 2 >= value.size()) return std::nullopt;
        const int high = hex_digit(value[i + 1]);
        const int low = hex_digit(value[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// The socket one address entry ("unix:path=/run/user/1000/bus,guid=...") names, if any.
std::optional<BusSocket> entry_socket(std::string_view entry) {
    const size_t colon = entry.find(':');
    if (colon == std::string_view::npos || entry.substr(0, colon) != "unix") return std::nullopt;
    std::string_view rest = entry.substr(colon + 1);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string_view pair = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = pair.substr(0, equals);
        if (key != "path" && key != "abstract") continue;
        const auto value = unescaped(pair.substr(equals + 1));
        if (!value || value->empty()) return std::nullopt;
        return BusSocket{*value, key == "abstract"};
    }
    return std::nullopt;
}

// Appends values at the alignment the wire format asks, counted from the message's start.
class WireWriter {
  public:
    explicit WireWriter(std::string& out) : out_(out) {}
    void align(size_t boundary) { out_.resize(aligned(out_.size(), boundary), '\0'); }
    void byte(uint8_t value) { out_ += static_cast<char>(value); }
    void u32(uint32_t value) {
        align(4);
        for (int shift = 0; shift < 32; shift += 8) byte(static_cast<uint8_t>(value >> shift));
    }
    void string(const std::string& value) {
        u32(static_cast<uint32_t>(value.size()));
        out_ += value;
        byte(0);
    }
    void signature(const std::string& value) {
        byte(static_cast<uint8_t>(value.size()));
        out_ += value;
        byte(0);
    }
    // One header field: a struct (aligned to 8) of its code and a variant.
    void field(uint8_t code, const std::string& type, const std::string& value) {
        align(8);
        byte(code);
        signature(type);
        if (type == "g") {
            signature(value);
        } else {
            string(value);
        }
    }

  private:
    std::string& out_;
};

// Reads values of a received message, each access checked against the end of `bytes`.
class WireReader {
  public:
    WireReader(std::string_view bytes, bool big_endian) : bytes_(bytes), big_endian_(big_endian) {}
    std::optional<uint32_t> u32(size_t& at) const {
        at = aligned(at, 4);
        if (at + 4 > bytes_.size()) return std::nullopt;
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto part = static_cast<uint8_t>(bytes_[at + (big_endian_ ? i : 3 - i)]);
            value = value << 8 | part;
        }
        at += 4;
        return value;
    }
    // A string or object path: length, bytes, a terminating zero.
    std::optional<std::string> string(size_t& at) const {
        const auto length = u32(at);
        if (!length || *length > bytes_.size() || at + *length + 1 > bytes_.size()) return std::nullopt;
        std::string value(bytes_.substr(at, *length));
        at += *length + 1;
        return value;
    }
    std::optional<std::string> signature(size_t& at) const {
        if (at >= bytes_.size()) return std::nullopt;
        const size_t length = static_cast<uint8_t>(bytes_[at]);
        if (at + 1 + length + 1 > bytes_.size()) return std::nullopt;
        std::string value(bytes_.substr(at + 1, length));
        at += length + 2;
        return value;
    }

  private:
    std::string_view bytes_;
    bool big_endian_;
};

// Reads the header fields array [16, end) into `message`; false when it is malformed.
bool read_header_fields(std::string_view bytes, size_t end, bool big_endian, DbusMessage& message) {
    const WireReader reader(bytes.substr(0, end), big_endian);
    size_t at = kFixedHeader;
    while (at < end) {
        at = aligned(at, 8);
        if (at >= end) return false;
        const auto code = static_cast<uint8_t>(bytes[at++]);
        const auto type = reader.signature(at);
        if (!type) return false;
        if (*type == "u") {
            const auto value = reader.u32(at);
            if (!value) return false;
            if (code == 5) message.reply_serial = *value;
        } else if (*type == "s" || *type == "o") {
            if (!reader.string(at)) return false;
        } else if (*type == "g") {
            const auto value = reader.signature(at);
            if (!value) return false;
            if (code == 8) message.signature = *value;
        } else {
            return false;  // no header field of the protocol has another type
        }
    }
    return true;
}

}  // namespace

std::vector<BusSocket> session_bus_sockets(const char* address, const char* runtime_dir) {
    std::vector<BusSocket> sockets;
    if (address != nullptr && *address != '\0') {
        std::string_view rest = address;
        while (!rest.empty()) {
            const size_t semicolon = rest.find(';');
            if (const auto socket = entry_socket(rest.substr(0, semicolon))) sockets.push_back(*socket);
            rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        }
        return sockets;
    }
    if (runtime_dir != nullptr && *runtime_dir != '\0')
        sockets.push_back({std::string(runtime_dir) + "/bus", false});
    return sockets;
}

std::string bus_address_text(const BusSocket& socket) {
    static const char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_/.\\*";
    static const char kHex[] = "0123456789abcdef";
    std::string text = socket.abstract_name ? "unix:abstract=" : "unix:path=";
    for (const char c : socket.path) {
        if (c != '\0' && std::string_view(kPlain).find(c) != std::string_view::npos) {
            text += c;
        } else {
            text += '%';
            text += kHex[static_cast<uint8_t>(c) >> 4];
            text += kHex[static_cast<uint8_t>(c) & 15];
        }
    }
    return text;
}

std::string dbus_method_call(uint32_t serial, const std::string& destination, const std::string& path,
                             const std::string& interface, const std::string& member,
                             const std::optional<std::string>& string_argument) {
    std::string message;
    WireWriter out(message);
    out.byte('l');
    out.byte(1);  // method call
    out.byte(0);  // no flags
    out.byte(1);  // protocol version
    out.u32(0);   // body length, filled in below
    out.u32(serial);
    out.u32(0);  // header fields length, filled in below
    out.field(1, "o", path);
    out.field(2, "s", interface);
    out.field(3, "s", member);
    out.field(6, "s", destination);
    if (string_argument) out.field(8, "g", "s");
    const size_t fields_length = message.size() - kFixedHeader;
    out.align(8);
    const size_t body_start = message.size();
    if (string_argument) out.string(*string_argument);
    const size_t body_length = message.size() - body_start;

    std::string lengths;
    WireWriter patch(lengths);
    patch.u32(static_cast<uint32_t>(body_length));
    message.replace(4, 4, lengths);
    lengths.clear();
    patch.u32(static_cast<uint32_t>(fields_length));
    message.replace(12, 4, lengths);
    return message;
}

DbusRead read_dbus_message(std::string_view bytes, DbusMessage& message, size_t& size) {
    if (bytes.size() < kFixedHeader) return DbusRead::incomplete;
    if ((bytes[0] != 'l' && bytes[0] != 'B') || bytes[3] != 1) return DbusRead::malformed;
    message = DbusMessage{};
    message.big_endian = bytes[0] == 'B';
    message.type = static_cast<uint8_t>(bytes[1]);
    const WireReader reader(bytes.substr(0, kFixedHeader), message.big_endian);
    size_t at = 4;
    const uint32_t body_length = *reader.u32(at);
    at = 12;
    const uint32_t fields_length = *reader.u32(at);
    if (body_length > kMaxMessage || fields_length > kMaxMessage) return DbusRead::malformed;
    const size_t fields_end = kFixedHeader + fields_length;
    const size_t body_start = aligned(fields_end, 8);
    if (body_start + body_length > kMaxMessage) return DbusRead::malformed;
    if (bytes.size() < body_start + body_length) return DbusRead::incomplete;
    if (!read_header_fields(bytes, fields_end, message.big_endian, message)) return DbusRead::malformed;
    message.body = std::string(bytes.substr(body_start, body_length));
    size = body_start + body_length;
    return DbusRead::message;
}

std::optional<bool> dbus_boolean_reply(const DbusMessage& message) {
    if (message.type != 2 || message.signature != "b") return std::nullopt;
    size_t at = 0;
    const auto value = WireReader(message.body, message.big_endian).u32(at);
    if (!value || *value > 1) return std::nullopt;
    return *value == 1;
}

}  // namespace korvane::connector
