#include "connector/toolkit/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace korvane::connector {
namespace {

int exit_code_from(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);  // as a shell reports it
    return -1;
}

void read_all(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            into.append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return;
        }
    }
}

// Makes a pipe whose ends no other child started meanwhile inherits (macOS has no pipe2).
bool make_pipe(int (&fds)[2]) {
    if (::pipe(fds) != 0) return false;
    for (const int fd : fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return true;
}

}  // namespace

ProgramRun run_program(const std::vector<std::string>& argv) {
    ProgramRun result;
    if (argv.empty() || argv.front().empty()) {
        result.exit_code = 127;
        return result;
    }
    int pipe_fds[2];
    if (!make_pipe(pipe_fds)) {
        result.exit_code = -1;
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copy, so only standard output stays open in the child.
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> arguments;
    for (const std::string& word : argv) arguments.push_back(const_cast<char*>(word.c_str()));
    arguments.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (spawned != 0) {
        // Not found, not executable or not startable: what a shell reports for a missing program.
        ::close(pipe_fds[0]);
        result.exit_code = 127;
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

}  // namespace korvane::connector
