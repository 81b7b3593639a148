#include "connector/app/entry_point.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "connector/app/command_dispatcher.h"
#include "connector/app/connector_app.h"
#include "connector/state/files.h"
#include "connector/state/secret_store_choice.h"
#include "connector/toolkit/curl_http_client.h"
#include "connector/toolkit/endpoints.h"

namespace korvane::connector {

std::string application_root() {
    namespace fs = std::filesystem;
    if (const char* home = std::getenv("HOME")) return (fs::path(home) / ".korvane-connector").string();
    std::error_code error;
    fs::path temporary = fs::temp_directory_path(error);
    if (error) temporary = "/tmp";
    return (temporary / "korvane-connector").string();
}

int connector_main(int argc, const char* const* argv, const std::string& update_public_key) {
    const std::string root = application_root();
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
