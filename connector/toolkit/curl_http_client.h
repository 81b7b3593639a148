#pragma once

#include <memory>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// HttpClient over libcurl. One client keeps its connections open between requests, so the
// requests of one run to the same host share one connection (and one TLS handshake). Requests
// may be sent from several threads at once: each request in flight has a connection of its own.
class CurlHttpClient : public HttpClient {
  public:
    CurlHttpClient();
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    HttpResult send(const HttpRequest& request) override;
    bool sends_side_by_side() const override { return true; }

  private:
    struct Pool;
    // Sends `request` on `curl`, which no other request uses meanwhile.
    static HttpResult perform(void* curl, const HttpRequest& request);

    std::unique_ptr<Pool> pool_;
};

}  // namespace korvane::connector
