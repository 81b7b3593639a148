#include "connector/toolkit/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

extern char** environ;

namespace korvane::connector {
namespace {

// Programs that are never shell builtins, so running them without a shell changes nothing: the
// keychain tool (named by path) and the desktop's openers.
bool runs_without_shell(const std::string& program) {
    return program.find('/') != std::string::npos || program == "open" || program == "xdg-open";
}

bool is_plain_word_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == '/' || c == ':' || c == '=' || c == ',' || c == '+' || c == '%' ||
           c == '@';
}

// Splits a command line made only of plain words and single-quoted pieces (what shell_escape
// produces) into the argument vector the shell would build; empty when the line uses any other
// shell syntax (pipes, redirections, expansions), which then goes through the shell.
std::optional<std::vector<std::string>> split_simple_command(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        std::string word;
        while (i < line.size() && line[i] != ' ') {
            const char c = line[i];
            if (c == '\'') {
                const size_t close = line.find('\'', i + 1);
                if (close == std::string_view::npos) return std::nullopt;
                word.append(line.substr(i + 1, close - i - 1));
                i = close + 1;
            } else if (c == '\\' && i + 1 < line.size() && line[i + 1] == '\'') {
                word += '\'';
                i += 2;
            } else if (is_plain_word_char(c)) {
                word += c;
                ++i;
            } else {
                return std::nullopt;
            }
        }
        words.push_back(std::move(word));
    }
    if (words.empty() || !runs_without_shell(words.front())) return std::nullopt;
    return words;
}

int exit_code_from(int status) {
    if ((status & 0x7F) == 0) return (status >> 8) & 0xFF;
    return status;
}

void read_all(int fd, std::string& into) {
    char buffer[4096];
    while (true) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            into.append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return;
        }
    }
}

// Starts the program directly, standard output and standard error into one pipe: one process
// instead of a shell plus the program.
CommandOutput run_direct(const std::vector<std::string>& words) {
    CommandOutput result;
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) {
        result.exit_code = -1;
        result.error = "popen failed";
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (spawned != 0) {
        // What the shell would have said and returned for a program it cannot find.
        ::close(pipe_fds[0]);
        result.exit_code = 127;
        result.output = "sh: 1: " + words.front() + ": not found\n";
        return result;
    }
    read_all(pipe_fds[0], result.output);
    ::close(pipe_fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result.exit_code = -1;
            return result;
        }
    }
    result.exit_code = exit_code_from(status);
    return result;
}

}  // namespace

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
    if (const auto words = split_simple_command(command)) return run_direct(*words);
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
    result.exit_code = exit_code_from(pclose(pipe));
    return result;
}

}  // namespace korvane::connector
