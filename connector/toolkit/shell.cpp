#include "connector/toolkit/shell.h"

#include <cstdio>

namespace korvane::connector {

std::string shell_escape(const std::string& value) {
    std::string quoted = "'";
    for (char c : value) {
        // A single quote cannot appear inside single quotes: close, escape it, reopen.
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

CommandOutput run_command(const std::string& command) {
    CommandOutput result;
    const std::string line = command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) {
        result.exit_code = -1;
        result.error = "popen failed";
        return result;
    }
    // fread rather than fgets: output may hold NUL bytes, and lines have no length limit.
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, count);
    }
    const int status = pclose(pipe);
    if ((status & 0x7F) == 0) {
        result.exit_code = (status >> 8) & 0xFF;
    } else {
        result.exit_code = status;
    }
    return result;
}

}  // namespace korvane::connector
