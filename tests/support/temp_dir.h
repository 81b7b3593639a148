#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace korvane::connector {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvane-unit-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Returns the path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

}  // namespace korvane::connector
