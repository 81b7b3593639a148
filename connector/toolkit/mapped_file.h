#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane::connector {

// A file mapped read-only into memory, so large files are digested page by page as the system
// reads them in, never copied whole into the program's memory.
class MappedFile {
  public:
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Returns true when the file could be opened and mapped (an empty file maps as empty).
    bool ok() const { return ok_; }
    // Returns the file's bytes; empty when not ok.
    std::string_view bytes() const { return {static_cast<const char*>(data_), size_}; }

  private:
    void* data_ = nullptr;
    size_t size_ = 0;
    bool ok_ = false;
};

}  // namespace korvane::connector
