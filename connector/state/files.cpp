#include "connector/state/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "connector/state/random_hex.h"

namespace korvane::connector {
namespace {

bool write_all(int fd, const std::string& content) {
    size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool write_file_atomic(const std::string& path, const std::string& content, mode_t mode) {
    // A random suffix keeps concurrent runs from sharing one temporary file.
    const std::string temporary = path + kTemporaryMark + random_hex(12);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    const bool written = write_all(fd, content) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool append_file(const std::string& path, const std::string& content, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, mode);
    if (fd < 0) return false;
    const bool written = write_all(fd, content);
    return ::close(fd) == 0 && written;
}

std::string make_private_directory(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return std::strerror(errno);
        const std::filesystem::path parent = std::filesystem::path(path).parent_path();
        std::error_code error;
        if (!parent.empty()) std::filesystem::create_directories(parent, error);
        if (error) return error.message();
        // Made private from the start: whatever the umask, no one else sees it even for a moment.
        if (::mkdir(path.c_str(), S_IRWXU) != 0 && errno != EEXIST) return std::strerror(errno);
        if (::lstat(path.c_str(), &info) != 0) return std::strerror(errno);
    }
    // A link could lead anywhere, and a folder someone else owns (made first in a shared place)
    // is theirs to read: neither holds our state.
    if (S_ISLNK(info.st_mode)) return "is a symbolic link";
    if (!S_ISDIR(info.st_mode)) return "not a directory";
    if (info.st_uid != ::geteuid()) return "owned by another user";
    if ((info.st_mode & 0777) != S_IRWXU && ::chmod(path.c_str(), S_IRWXU) != 0) return std::strerror(errno);
    return "";
}

std::string sanitized_exchange_name(const std::string& exchange) {
    std::string name = exchange;
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ' ') c = '_';
    }
    return name;
}

}  // namespace korvane::connector
