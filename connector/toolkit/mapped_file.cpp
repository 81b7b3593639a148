#include "connector/toolkit/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::connector {

MappedFile::MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        size_ = static_cast<size_t>(info.st_size);
        if (size_ == 0) {
            ok_ = true;
        } else {
            void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped != MAP_FAILED) {
                data_ = mapped;
                ok_ = true;
            }
        }
    }
    // The mapping stays valid after the descriptor is closed.
    ::close(fd);
    if (!ok_) size_ = 0;
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) ::munmap(data_, size_);
}

}  // namespace korvane::connector
