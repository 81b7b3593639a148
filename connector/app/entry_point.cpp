#include "connector/app/entry_point.h"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "connector/app/command_dispatcher.h"
#include "connector/app/connector_app.h"
#include "connector/app/process_hygiene.h"
#include "connector/state/files.h"
#include "connector/state/secret_store_choice.h"
#include "connector/toolkit/curl_http_client.h"
#include "connector/toolkit/endpoints.h"

namespace korvane::connector {

std::string application_root() {
    namespace fs = std::filesystem;
    // A HOME that is set, even empty (the root is then relative), names the home.
    if (const char* home = std::getenv("HOME"); home != nullptr)
        return (fs::path(home) / ".korvane-connector").string();
    // Never a shared folder such as /tmp: another user could make the root first, or plant a
    // link there.
    const passwd* entry = ::getpwuid(::getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || *entry->pw_dir == '\0') return "";
    return (fs::path(entry->pw_dir) / ".korvane-connector").string();
}

int connector_main(int argc, const char* const* argv, const std::string& update_public_key) {
    harden_process();
    // Help and the version need no state, so they work even where no root can be made.
    if (const auto code = run_stateless(argc, argv, !update_public_key.empty())) return *code;
    const std::string root = application_root();
    if (root.empty()) {
        std::cerr
            << "korvane-connector: cannot find the home folder: HOME is unset and the user has no home\n";
        return 1;
    }
    // Without its root the program can keep no state; stop before touching anything else.
    if (const std::string problem = make_private_directory(root); !problem.empty()) {
        std::cerr << "korvane-connector: cannot create application root " << root << ": " << problem << "\n";
        return 1;
    }
    CurlHttpClient http;
    // Opening the store costs nothing yet: it is reached (and its library loaded) on first use.
    const std::unique_ptr<SecretStore> secrets = open_secret_store();
    const SystemClock clock;
    const Outside outside{http, *secrets, clock};
    ConnectorApp app(root, relay_url(), outside, update_public_key);
    app.bootstrap();
    CommandDispatcher dispatcher(app, std::cin);
    return dispatcher.run_cli(argc, argv);
}

}  // namespace korvane::connector
