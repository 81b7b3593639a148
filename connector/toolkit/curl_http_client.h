#pragma once

#include <memory>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// HttpClient over libcurl. One client keeps its connections open between requests, so the
// requests of one run to the same host share one connection (and one TLS handshake).
class CurlHttpClient : public HttpClient {
  public:
    CurlHttpClient();
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    HttpResult send(const HttpRequest& request) override;

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace korvane::connector
