#pragma once

#include <string>

namespace korvane::connector {

// One HTTP exchange through curl.
struct HttpResult {
    int exit_code = 0;  // curl's exit code; 0 when a reply arrived, whatever its HTTP status
    std::string body;   // the reply body, or curl's error message
};

// `headers` is ready-made curl text: "-H 'Name: value' " per header, or empty.
// Each call has a 20-second overall limit.
HttpResult http_get(const std::string& url, const std::string& headers);
HttpResult http_delete(const std::string& url, const std::string& headers);
// Sends `body` byte for byte; adds no header of its own; no --data when `body` is empty.
HttpResult http_post_json(const std::string& url, const std::string& body, const std::string& headers);

}  // namespace korvane::connector
