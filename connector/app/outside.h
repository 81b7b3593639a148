#pragma once

#include "connector/state/secret_store.h"
#include "connector/toolkit/clock.h"
#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// Everything of a run that reaches outside the program. The entry point builds the real ones;
// tests build fakes and drive any command without a process or a socket.
struct Outside {
    HttpClient& http;
    SecretStore& secrets;
    const Clock& clock;
};

}  // namespace korvane::connector
