#pragma once

#include <string>

namespace korvane::connector {

// The outcome of a step that can fail: ok, or a reason word with a message for people.
struct Status {
    std::string reason;   // empty when ok; a stable word such as "write_failed"
    std::string message;  // what went wrong, for a person; empty when ok

    bool ok() const { return reason.empty(); }
    static Status success() { return {}; }
    static Status failure(std::string reason, std::string message) {
        return Status{std::move(reason), std::move(message)};
    }
};

}  // namespace korvane::connector
