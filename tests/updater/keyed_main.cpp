// The program as a build with a publisher key behaves, except that the key comes from
// KORVANE_TEST_UPDATE_PUBLIC_KEY, so a test can make its own key pair (an empty value plays a
// build without a key). Built only for the tests and never installed; the shipped program's
// key is fixed when it is configured.
#include <cstdlib>
#include <iostream>

#include "connector/app/entry_point.h"

int main(int argc, char** argv) {
    const char* key = std::getenv("KORVANE_TEST_UPDATE_PUBLIC_KEY");
    // A test that forgot the key would silently test an unsigned build.
    if (key == nullptr) {
        std::cerr << "korvane-connector-keyed: KORVANE_TEST_UPDATE_PUBLIC_KEY is not set\n";
        return 2;
    }
    return korvane::connector::connector_main(argc, argv, key);
}
