#pragma once

#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "connector/state/secret_store.h"
#include "connector/toolkit/clock.h"
#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// An HttpClient that records every request and answers from a script: `respond` when set, else
// queued replies first, in order, then the first rule whose URL part occurs in the request's URL.
// Unmatched requests fail as a refused connection would. Like the real client it refuses a request
// whose time is up, keeps each reply's size limit, and streams a reply into `output_path`.
class FakeHttpClient : public HttpClient {
  public:
    HttpResult send(const HttpRequest& request) override {
        sent.push_back(request);
        if (request.timeout_ms <= 0) return http_failure(28, "Operation timed out before it started");
        HttpResult reply = scripted(request);
        if (reply.exit_code != 0) return reply;
        if (reply.body.size() > request.max_reply_bytes) {
            return http_failure(
                63, "reply too large: over " + std::to_string(request.max_reply_bytes) + " bytes");
        }
        if (!request.output_path.empty()) {
            std::ofstream(request.output_path, std::ios::binary) << reply.body;
            reply.body.clear();
        }
        return reply;
    }

    // Answers every later request whose URL contains `url_part` with `body` (status 200).
    void answer(const std::string& url_part, const std::string& body, long status = 200) {
        rules.emplace_back(url_part, HttpResult{0, body, status});
    }
    // Answers the next request, whatever it is, with `reply`.
    void queue(const HttpResult& reply) { queued.push_back(reply); }
    void queue(const std::string& body) { queued.push_back(HttpResult{0, body, 200}); }

    // Returns the value of header `name` in request `index`; empty when it has none.
    std::string header(size_t index, const std::string& name) const {
        for (const std::string& line : sent.at(index).headers) {
            if (line.rfind(name + ": ", 0) == 0) return line.substr(name.size() + 2);
        }
        return "";
    }

    std::vector<HttpRequest> sent;
    std::function<HttpResult(const HttpRequest&)> respond;  // when set, answers every request
    std::deque<HttpResult> queued;
    std::vector<std::pair<std::string, HttpResult>> rules;

  private:
    HttpResult scripted(const HttpRequest& request) {
        if (respond) return respond(request);
        if (!queued.empty()) {
            HttpResult reply = queued.front();
            queued.pop_front();
            return reply;
        }
        for (const auto& [part, reply] : rules) {
            if (request.url.find(part) != std::string::npos) return reply;
        }
        return http_failure(7, "Failed to connect: no reply scripted for " + request.url);
    }
};

// A clock that stands where the test puts it.
class FixedClock : public Clock {
  public:
    explicit FixedClock(int64_t ms) : ms(ms) {}
    int64_t now_ms() const override { return ms; }
    // Records the wait instead of waiting.
    void sleep_ms(int64_t wait) const override { slept.push_back(wait); }
    int64_t ms;
    mutable std::vector<int64_t> slept;
};

// A secret store in memory; `reachable` false plays a store that is not running.
class MemorySecretStore : public SecretStore {
  public:
    bool store(const std::string& service, const std::string& account, const std::string& secret) override {
        if (!reachable) return false;
        items[{service, account}] = secret;
        return true;
    }
    std::optional<std::string> fetch(const std::string& service, const std::string& account) override {
        ++fetches;
        if (!reachable) return std::nullopt;
        const auto found = items.find({service, account});
        if (found == items.end()) return std::nullopt;
        return found->second;
    }
    bool remove(const std::string& service, const std::string& account) override {
        if (!reachable) return false;
        items.erase({service, account});
        return true;
    }
    std::string backend_name() const override { return "memory_with_file_fallback"; }

    bool reachable = true;
    int fetches = 0;
    std::map<std::pair<std::string, std::string>, std::string> items;
};

}  // namespace korvane::connector
