// RunProgram with posix_spawn: no fork of the JVM's address space, no shell,
// pipes closed and the child reaped on every path.
#include "sysstore/nss/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace kavro {
namespace {

constexpr std::size_t kErrorTextLimit = 64 * 1024;

// A descriptor closed once.
class Descriptor {
public:
    Descriptor() = default;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() noexcept { Close(); }
    int Get() const { return fd_; }
    int *Address() { return &fd_; }
    void Close() noexcept {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

// Both ends of a pipe; close-on-exec, so that no other child inherits them.
struct Pipe {
    Descriptor read;
    Descriptor write;
    bool Open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        *read.Address() = fds[0];
        *write.Address() = fds[1];
        return true;
    }
};

class SpawnActions {
public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;
    ~SpawnActions() noexcept {
        if (ok_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
    }
    bool Ok() const { return ok_; }
    posix_spawn_file_actions_t *Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = posix_spawnattr_init(&attributes_) == 0; }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    ~SpawnAttributes() noexcept {
        if (ok_) {
            posix_spawnattr_destroy(&attributes_);
        }
    }
    bool Ok() const { return ok_; }
    posix_spawnattr_t *Get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
    bool ok_;
};

// Reaps the child; if it must be given up early (an exception while its
// output is read), it is terminated first so that waiting cannot block.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child() noexcept {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            Wait();
        }
    }
    int Wait() noexcept {
        int status = 0;
        pid_t done;
        do {
            done = waitpid(pid_, &status, 0);
        } while (done < 0 && errno == EINTR);
        pid_ = -1;
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_;
};

bool SameName(const char *entry, const std::string &assignment) {
    std::size_t equals = assignment.find('=');
    return equals != std::string::npos && std::strncmp(entry, assignment.c_str(), equals + 1) == 0;
}

std::vector<char *> Environment(const std::vector<std::string> &extra) {
    std::vector<char *> entries;
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        bool replaced = false;
        for (const std::string &assignment : extra) {
            replaced = replaced || SameName(*entry, assignment);
        }
        if (!replaced) {
            entries.push_back(*entry);
        }
    }
    for (const std::string &assignment : extra) {
        entries.push_back(const_cast<char *>(assignment.c_str()));
    }
    entries.push_back(nullptr);
    return entries;
}

// Reads both pipes until the program has closed them; false when polling
// failed and the program's end cannot be awaited.
bool Drain(int outputFd, int errorFd, char *output, std::size_t capacity, ProgramResult &result) {
    pollfd fds[2] = {{outputFd, POLLIN, 0}, {errorFd, POLLIN, 0}};
    char chunk[4096];
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (pollfd &entry : fds) {
            if (entry.fd < 0 || entry.revents == 0) {
                continue;
            }
            ssize_t count = read(entry.fd, chunk, sizeof chunk);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                entry.fd = -1;  // poll passes over negative descriptors
                --open;
                continue;
            }
            std::size_t length = static_cast<std::size_t>(count);
            if (entry.fd == outputFd) {
                std::size_t room = capacity - result.outputLength;
                std::size_t kept = length < room ? length : room;
                std::memcpy(output + result.outputLength, chunk, kept);
                result.outputLength += kept;
            } else if (result.errorText.size() < kErrorTextLimit) {
                result.errorText.append(chunk, length);
            }
        }
    }
    // The chunk may have held a typed password.
    volatile char *wipe = chunk;
    for (std::size_t i = 0; i < sizeof chunk; ++i) {
        wipe[i] = 0;
    }
    return true;
}

}  // namespace

bool RunProgram(const std::string &path, const std::vector<std::string> &arguments,
                const std::vector<std::string> &extraEnvironment, char *output, std::size_t capacity,
                ProgramResult &result) {
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char *> envp = Environment(extraEnvironment);

    Pipe out;
    Pipe err;
    SpawnActions actions;
    SpawnAttributes attributes;
    if (!out.Open() || !err.Open() || !actions.Ok() || !attributes.Ok()) {
        return false;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    // The JVM's blocked signals and ignored ones are not the program's business.
    if (posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(actions.Get(), out.write.Get(), 1) != 0 ||
        posix_spawn_file_actions_adddup2(actions.Get(), err.write.Get(), 2) != 0 ||
        posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3) != 0 ||
        posix_spawnattr_setsigmask(attributes.Get(), &none) != 0 ||
        posix_spawnattr_setsigdefault(attributes.Get(), &all) != 0 ||
        posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
        return false;
    }
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), actions.Get(), attributes.Get(), argv.data(), envp.data()) != 0) {
        return false;
    }
    Child child(pid);
    // Only the child holds the write ends now, so its exit ends the reading.
    out.write.Close();
    err.write.Close();
    result = ProgramResult();
    if (!Drain(out.read.Get(), err.read.Get(), output, capacity, result)) {
        return false;  // the child is terminated and reaped on the way out
    }
    out.read.Close();
    err.read.Close();
    result.exitStatus = child.Wait();
    return true;
}

std::string FindProgram(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        std::string folder = folders.substr(start, end - start);
        std::string candidate = folder + "/" + name;
        struct stat info;
        // Only absolute folders: an empty or relative entry would run a
        // program from the JVM's working directory.
        if (!folder.empty() && folder[0] == '/' && stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

}  // namespace kavro
