#pragma once

#include <string>

namespace korvane::connector {

// The application root: where every state file of this installation lives.
class ConfigStore {
  public:
    // Keeps `app_root` and creates it (mode 0700) with all missing parents.
    explicit ConfigStore(std::string app_root);

    // Returns the application root path.
    const std::string& app_root() const { return root_; }

    // Returns the current UTC time as "YYYY-MM-DDTHH:MM:SSZ".
    std::string now_iso8601() const;

  private:
    std::string root_;
};

}  // namespace korvane::connector
