#include "SpawnedUpdater.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace firmwaretest {

SpawnedUpdater::SpawnedUpdater(const zvtest::TempDir& work, const std::string& name,
                               std::vector<std::string> args, const std::vector<std::string>& env)
    : outFile_(work.file(name + ".out")), errFile_(work.file(name + ".err")) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile_.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(), O_WRONLY | O_CREAT, 0644);
    args.insert(args.begin(), zvtest::updaterBinary());
    std::vector<char*> argv;
    for (std::string& word : args) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment(env);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.push_back(*entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

SpawnedUpdater::~SpawnedUpdater() {
    if (pid_ > 0 && result_.exitCode < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool SpawnedUpdater::running() {
    return pid_ > 0 && result_.exitCode < 0 && !reaped(WNOHANG);
}

zvtest::RunResult SpawnedUpdater::wait() {
    if (pid_ > 0 && result_.exitCode < 0) {
        reaped(0);
    }
    return result_;
}

bool SpawnedUpdater::reaped(int options) {
    int status = 0;
    if (waitpid(pid_, &status, options) != pid_) {
        return false;
    }
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result_.out = zvtest::readFile(outFile_);
    result_.err = zvtest::readFile(errFile_);
    return true;
}

}  // namespace firmwaretest
