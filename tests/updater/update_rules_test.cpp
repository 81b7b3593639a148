#include "connector/updater/update_rules.h"

#include <gtest/gtest.h>

namespace korvane::connector {
namespace {

// Plain http is for the local sandbox only: the host must be one the download reaches without
// asking a name server, read the same way by us and by libcurl.
TEST(ImageUrls, PlainHttpOnlyToThisMachine) {
    const struct {
        const char* url;
        bool allowed;
    } cases[] = {
        {"https://downloads.example/a.dmg", true},
        {"http://127.0.0.1:8443/a.dmg", true},
        {"http://127.255.0.9/a", true},
        {"http://localhost/a", true},
        {"http://[::1]:9000/a", true},
        {"http://downloads.example/a.dmg", false},
        {"http://127.0.0.1.example/a", false},
        {"http://127.0.0.1@evil.example/a", false},
        {"http://127.0.0.1:/a", false},
        {"http://127.0.0.256/a", false},
        {"http://127.0.0/a", false},
        // A leading zero makes libcurl read a part as octal, and a bad octal part ("058") turns the
        // whole host into a name that a name server answers for.
        {"http://127.8.058.57", false},
        {"http://127.0.0.01/a", false},
        {"http://127.000.0.1/a", false},
        {"http://127.0.0.0/a", true},
        {"file:///etc/passwd", false},
        {"-K/tmp/config", false},
        {"https://a b/", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_allowed_image_url(c.url), c.allowed) << c.url;
}

}  // namespace
}  // namespace korvane::connector
