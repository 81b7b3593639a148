#include "connector/toolkit/http.h"

#include "connector/toolkit/shell.h"

namespace korvane::connector {
namespace {

HttpResult http_any(const char* method, const std::string& url, const std::string& body,
                    const std::string& headers) {
    std::string command = std::string("curl -sS --max-time 20 -X ") + method + " ";
    if (!headers.empty()) command += headers + " ";
    if (!body.empty()) command += "--data " + shell_escape(body) + " ";
    command += shell_escape(url);
    const CommandOutput run = run_command(command);
    return HttpResult{run.exit_code, run.output};
}

}  // namespace

HttpResult http_get(const std::string& url, const std::string& headers) {
    return http_any("GET", url, "", headers);
}

HttpResult http_delete(const std::string& url, const std::string& headers) {
    return http_any("DELETE", url, "", headers);
}

HttpResult http_post_json(const std::string& url, const std::string& body, const std::string& headers) {
    return http_any("POST", url, body, headers);
}

}  // namespace korvane::connector
