#include "connector/state/session_bus_address.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace korvane::connector {

SessionBusPlace session_bus_place(const char* address, const char* runtime_dir) {
    SessionBusPlace place;
    if (address != nullptr && *address != '\0') {
        // Entries are tried in order by the D-Bus library; those kept stay in that order.
        std::string_view rest = address;
        while (!rest.empty()) {
            const size_t semicolon = rest.find(';');
            const std::string_view entry = rest.substr(0, semicolon);
            rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
            if (entry.rfind("unix:", 0) != 0) continue;
            if (!place.address.empty()) place.address += ';';
            place.address += entry;
        }
        return place;
    }
    if (runtime_dir != nullptr && *runtime_dir != '\0') {
        const std::string socket = std::string(runtime_dir) + "/bus";
        std::error_code error;
        if (std::filesystem::exists(socket, error)) place.socket_path = socket;
    }
    return place;
}

}  // namespace korvane::connector
