#include "TestSupport.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace zvtest {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zvtest.XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only directories behind; make them writable before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string pseudoRandomBytes(size_t count, uint32_t state) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

std::string seededBytes(size_t count, uint32_t seed) {
    return pseudoRandomBytes(count, seed * 2654435761u + 1);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readStream(FILE* file) {
    fflush(file);
    rewind(file);
    std::string all;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) {
        all.append(chunk, n);
    }
    return all;
}

bool pathExists(const std::string& path) {
    return std::filesystem::exists(path);
}

namespace {

void drainPipes(int outFd, int errFd, RunResult& result) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    char chunk[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n <= 0) {
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(chunk, static_cast<size_t>(n));
        }
    }
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& extraEnv) {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(const_cast<char*>(w.c_str()));
    }
    argv.push_back(nullptr);

    // An extra entry replaces the test's own entry of that name: getenv takes the first.
    auto overridden = [&extraEnv](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (const std::string& extra : extraEnv) {
            if (extra.compare(0, name.size(), name) == 0) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::string> envStore;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) {
            envStore.emplace_back(*e);
        }
    }
    envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : envStore) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    RunResult result;
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + program + ": " + strerror(rc));
    }
    drainPipes(outPipe[0], errPipe[0], result);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string updaterBinary() {
    return std::string(ZV_BINARY_DIR) + "/Updater";
}

std::string birdtoolBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/birdtool/birdtool";
}

std::string modulesimBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/modulesim/modulesim";
}

std::string linkshareBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/linkshare/linkshare";
}

std::string updateserverBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/updateserver/updateserver";
}

std::string scriptPath(const std::string& name) {
    return std::string(ZV_SOURCE_DIR) + "/scripts/" + name;
}

namespace {

// Links shared for this machine are listed from the user's directory, which every test process
// of the user would otherwise see: each private network gets an empty one of its own.
bool privateShareDirectory(std::string* why) {
    const std::string directory = "/tmp/zendrival-" + std::to_string(getuid());
    mkdir(directory.c_str(), 0700);
    const std::string options = "mode=0700,uid=" + std::to_string(getuid());
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", directory.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        if (why)
            *why = "private " + directory + ": " + strerror(errno);
        return false;
    }
    // A login session's runtime directory comes first where there is one.
    const std::string runtime = "/run/user/" + std::to_string(getuid());
    struct stat status {};
    if (stat(runtime.c_str(), &status) == 0 &&
        mount("tmpfs", runtime.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        if (why)
            *why = "private " + runtime + ": " + strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool enterPrivateNetwork(bool veth, std::string* why) {
    if (unshare(CLONE_NEWNET) != 0) {
        if (why)
            *why = std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
        return false;
    }
    if (!privateShareDirectory(why)) {
        return false;
    }
    std::vector<std::string> args;
    if (veth)
        args.push_back("--veth");
    RunResult setup = runProgram(scriptPath("netns-setup"), args);
    if (setup.exitCode != 0) {
        if (why)
            *why = "netns-setup failed: " + setup.err;
        return false;
    }
    return true;
}

std::string privateNetworkMissing(bool veth) {
    std::string why;
    return enterPrivateNetwork(veth, &why) ? std::string() : why;
}

bool enterPrivateRunLock(std::string* why) {
    constexpr const char* kRunLock = "/run/lock";
    static bool inPrivateNamespace = false;
    static bool mounted = false;
    struct stat st;
    if (stat(kRunLock, &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (why)
            *why = std::string("the machine has no ") + kRunLock + " directory";
        return false;
    }
    if (!inPrivateNamespace) {
        // Mounts made from here on stay in this process and its children.
        if (unshare(CLONE_NEWNS) != 0) {
            if (why)
                *why = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
            return false;
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            if (why)
                *why = std::string("mount --make-rprivate /: ") + strerror(errno);
            return false;
        }
        inPrivateNamespace = true;
    }
    if (mounted) {
        umount2(kRunLock, MNT_DETACH);  // the previous test's
        mounted = false;
    }
    if (mount("zvtest-run-lock", kRunLock, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              "mode=1777,size=1m") != 0) {
        if (why)
            *why = std::string("mount -t tmpfs ") + kRunLock + ": " + strerror(errno);
        return false;
    }
    mounted = true;
    return true;
}

std::string privateRunLockMissing() {
    std::string why;
    return enterPrivateRunLock(&why) ? std::string() : why;
}

bool everyTestMustRun() {
    const char* ci = std::getenv("CI");
    return geteuid() == 0 || (ci != nullptr && *ci != '\0');
}

}  // namespace zvtest
