#include "connector/state/session_bus_address.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace korvane::connector {
namespace {

TEST(SessionBusPlace, KeepsUnixSocketsAndNeverAnAutolaunchedBus) {
    const std::string with_bus = testing::TempDir() + "korvane-runtime-with-bus";
    const std::string without_bus = testing::TempDir() + "korvane-runtime-without-bus";
    std::filesystem::create_directories(with_bus);
    std::filesystem::create_directories(without_bus);
    std::ofstream(with_bus + "/bus").put('\n');
    const struct {
        const char* address;
        const char* runtime_dir;
        std::string bus_address;
        std::string socket_path;
    } cases[] = {
        {"unix:path=/run/user/1000/bus", with_bus.c_str(), "unix:path=/run/user/1000/bus", ""},
        {"unix:path=/tmp/with%20space%2c,guid=0123abcd", nullptr,
         "unix:path=/tmp/with%20space%2c,guid=0123abcd", ""},
        {"tcp:host=localhost,port=1;unix:path=/b;autolaunch:;unix:abstract=/a", nullptr,
         "unix:path=/b;unix:abstract=/a", ""},
        // Nothing a socket can be opened on: no bus, and the runtime folder is not asked.
        {"autolaunch:", with_bus.c_str(), "", ""},
        {"tcp:host=127.0.0.1,port=4", nullptr, "", ""},
        {"", with_bus.c_str(), "", with_bus + "/bus"},
        {nullptr, with_bus.c_str(), "", with_bus + "/bus"},
        {nullptr, without_bus.c_str(), "", ""},
        {nullptr, nullptr, "", ""},
        {nullptr, "", "", ""},
    };
    for (const auto& c : cases) {
        const SessionBusPlace place = session_bus_place(c.address, c.runtime_dir);
        const std::string name = std::string(c.address ? c.address : "(unset)") + " / " +
                                 (c.runtime_dir ? c.runtime_dir : "(unset)");
        EXPECT_EQ(place.address, c.bus_address) << name;
        EXPECT_EQ(place.socket_path, c.socket_path) << name;
    }
    std::filesystem::remove_all(with_bus);
    std::filesystem::remove_all(without_bus);
}

}  // namespace
}  // namespace korvane::connector
