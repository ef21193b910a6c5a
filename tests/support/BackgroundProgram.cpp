#include "BackgroundProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace zvtest {

BackgroundProgram::BackgroundProgram(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::string& errorFile) {
    int outPipe[2];
    if (pipe(outPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, outPipe[1]);
    if (!errorFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    if (rc != 0) {
        close(outPipe[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + program + ": " + strerror(rc));
    }
    outFd_ = outPipe[0];
}

BackgroundProgram::~BackgroundProgram() {
    stop();
}

bool BackgroundProgram::waitReady(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (outFd_ >= 0) {
        size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            if (line == "ready") {
                return true;
            }
            lines_.push_back(line);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            return false;
        }
        pollfd pfd{outFd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char buffer[1024];
        ssize_t got = read(outFd_, buffer, sizeof(buffer));
        if (got <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(got));
    }
    return false;
}

std::string BackgroundProgram::startupValue(const std::string& prefix) const {
    for (const std::string& line : lines_) {
        if (line.compare(0, prefix.size() + 1, prefix + " ") == 0) {
            return line.substr(prefix.size() + 1);
        }
    }
    return "";
}

namespace {

// How long a program may take to end after SIGTERM before it is killed.
constexpr int kStopLimitMs = 15000;

bool reapWithin(pid_t pid, int limitMs, int* status) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (true) {
        pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        usleep(10000);
    }
}

// A program that does not end on SIGTERM is a fault worth seeing: its threads' stacks go to the
// test's standard error when gdb is at hand.
void reportStuckProgram(pid_t pid) {
    fprintf(stderr, "program %d did not end within %d ms of SIGTERM; killing it\n",
            static_cast<int>(pid), kStopLimitMs);
    if (access("/usr/bin/gdb", X_OK) == 0) {
        std::string command = "timeout 60 /usr/bin/gdb -batch -nx -ex 'thread apply all bt' -p " +
                              std::to_string(pid) + " 1>&2 2>/dev/null";
        if (system(command.c_str()) != 0) {
            fprintf(stderr, "(no stacks)\n");
        }
    }
}

}  // namespace

int BackgroundProgram::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (!reapWithin(pid_, kStopLimitMs, &status)) {
            reportStuckProgram(pid_);
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
    }
    if (outFd_ >= 0) {
        close(outFd_);
        outFd_ = -1;
    }
    return exitStatus_;
}

}  // namespace zvtest
