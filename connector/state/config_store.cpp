#include "connector/state/config_store.h"

#include "connector/state/files.h"
#include "connector/toolkit/clock.h"

namespace korvane::connector {

ConfigStore::ConfigStore(std::string app_root) : root_(std::move(app_root)) {
    // The entry point has already reported a root it could not create; nothing more to say here.
    make_private_directory(root_);
}

std::string ConfigStore::now_iso8601() const {
    return korvane::connector::now_iso8601();
}

}  // namespace korvane::connector
