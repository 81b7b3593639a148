#include "connector/state/session_bus_probe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace korvane::connector {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxReceived = 256 * 1024;
constexpr uint32_t kHelloSerial = 1;
constexpr uint32_t kQuestionSerial = 2;

// Owns one socket descriptor.
class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Waits until `fd` is ready for `events` or `deadline` passes; false on the deadline or an error.
bool wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

bool connect_to(const Socket& socket, const BusSocket& address, Clock::time_point deadline) {
    sockaddr_un target{};
    target.sun_family = AF_UNIX;
    const size_t offset = address.abstract_name ? 1 : 0;  // an abstract name starts with a zero byte
    if (address.path.size() + offset >= sizeof(target.sun_path)) return false;
    std::memcpy(target.sun_path + offset, address.path.data(), address.path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                               address.path.size() + (address.abstract_name ? 0 : 1));
    if (connect(socket.fd(), reinterpret_cast<const sockaddr*>(&target), length) == 0) return true;
    if (errno != EINPROGRESS || !wait_for(socket.fd(), POLLOUT, deadline)) return false;
    int error = 0;
    socklen_t size = sizeof(error);
    return getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool send_all(const Socket& socket, const std::string& data, Clock::time_point deadline) {
    size_t sent = 0;
    while (sent < data.size()) {
        // A bus that went away must not end the program with SIGPIPE.
        const ssize_t count = send(socket.fd(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_for(socket.fd(), POLLOUT, deadline)) return false;
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// Appends what arrives to `received`; false on end of stream, an error or the deadline.
bool receive_more(const Socket& socket, std::string& received, Clock::time_point deadline) {
    if (received.size() >= kMaxReceived || !wait_for(socket.fd(), POLLIN, deadline)) return false;
    char chunk[4096];
    const ssize_t count = recv(socket.fd(), chunk, sizeof(chunk), 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (count <= 0) return false;
    received.append(chunk, static_cast<size_t>(count));
    return true;
}

// The EXTERNAL mechanism: the bus checks the peer's user id against the one claimed here.
std::string auth_line() {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const char digit : std::to_string(getuid())) {
        hex += kHex[static_cast<uint8_t>(digit) >> 4];
        hex += kHex[digit & 15];
    }
    return std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n";
}

// Returns true when the bus at `address` says `name` has an owner.
bool ask_name_has_owner(const BusSocket& address, const std::string& name, Clock::time_point deadline,
                        bool& connected) {
    const Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    connected = socket.fd() >= 0 && connect_to(socket, address, deadline);
    if (!connected || !send_all(socket, auth_line(), deadline)) return false;

    std::string received;
    size_t line_end = std::string::npos;
    while ((line_end = received.find("\r\n")) == std::string::npos) {
        if (received.size() > 512 || !receive_more(socket, received, deadline)) return false;
    }
    if (received.rfind("OK ", 0) != 0) return false;
    received.erase(0, line_end + 2);

    const std::string bus = "org.freedesktop.DBus";
    const std::string path = "/org/freedesktop/DBus";
    const std::string questions = "BEGIN\r\n" +
                                  dbus_method_call(kHelloSerial, bus, path, bus, "Hello", std::nullopt) +
                                  dbus_method_call(kQuestionSerial, bus, path, bus, "NameHasOwner", name);
    if (!send_all(socket, questions, deadline)) return false;

    // The bus answers Hello, announces the name it gave us, then answers the question.
    for (;;) {
        DbusMessage message;
        size_t size = 0;
        const DbusRead read = read_dbus_message(received, message, size);
        if (read == DbusRead::malformed) return false;
        if (read == DbusRead::incomplete) {
            if (!receive_more(socket, received, deadline)) return false;
            continue;
        }
        received.erase(0, size);
        if (message.type == 3) return false;  // an error, to either call
        if (message.reply_serial == kQuestionSerial) return dbus_boolean_reply(message).value_or(false);
    }
}

}  // namespace

std::optional<BusSocket> bus_name_owner_socket(const std::vector<BusSocket>& sockets, const std::string& name,
                                               std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (const BusSocket& address : sockets) {
        bool connected = false;
        if (ask_name_has_owner(address, name, deadline, connected)) return address;
        if (connected) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace korvane::connector
