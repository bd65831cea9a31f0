// The bridge's platform seam on POSIX systems: dladdr for its own name,
// the XDG configuration folder then /etc, dlopen for the real module, and
// the host's SIGPIPE action kept from NSPR.
#include "bridge/bridge_platform.h"
#include "kavro/sigpipe_action.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kavro::bridge {

std::string OwnPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&OwnPath), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    return info.dli_fname;
}

std::vector<std::string> ConfigFiles(const std::string &) {
    std::vector<std::string> files;
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
    std::string configHome = Environment("XDG_CONFIG_HOME");
    if (configHome.empty() || configHome[0] != '/') {
        std::string home = Environment("HOME");
        configHome = home.empty() ? std::string() : home + "/.config";
    }
    if (!configHome.empty()) {
        files.push_back(configHome + "/kavro/bridge.conf");
    }
    files.push_back("/etc/kavro/bridge.conf");
    return files;
}

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool SameFileName(const std::string &a, const std::string &b) { return a == b; }

LibrarySearch LibrarySearchPath() { return LibrarySearch{"LD_LIBRARY_PATH", ':', '/'}; }

bool FileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// The loader knows a library by its file (device and inode), whatever name
// or link reached it.
bool IsSameLibrary(const std::string &path, const std::string &ownPath) {
    struct stat file {};
    struct stat own {};
    return stat(path.c_str(), &file) == 0 && stat(ownPath.c_str(), &own) == 0 && file.st_dev == own.st_dev &&
           file.st_ino == own.st_ino;
}

namespace {

// The SIGPIPE guard, sysstore/nss/sigpipe_guard.c as a library that links
// NSPR. Loaded with its own scope first, before the real module, it loads
// NSPR bound to its sigaction; a real module that uses NSPR then finds it
// loaded so. Where the process had NSPR already, InitializeModule puts the
// action back instead.
constexpr const char *kSigpipeGuardFile = "libkavro-sigpipe.so";

std::string Folder(const std::string &path) { return path.substr(0, path.rfind('/') + 1); }

std::string LoadSigpipeGuard(const std::string &ownPath) {
    if (kSigpipeGuardBinding == 0) {
        return "no SIGPIPE guard in a sanitizer build";
    }
    // Never a folder relative to the current one.
    if (ownPath.empty() || ownPath[0] != '/') {
        return "no SIGPIPE guard: this bridge's own path is not absolute";
    }
    // Beside the name the bridge was loaded by, then beside the file a link leads to.
    std::vector<std::string> files{Folder(ownPath) + kSigpipeGuardFile};
    std::unique_ptr<char, decltype(&std::free)> real(realpath(ownPath.c_str(), nullptr), &std::free);
    if (real != nullptr) {
        files.push_back(Folder(real.get()) + kSigpipeGuardFile);
    }
    for (const std::string &file : files) {
        if (!FileExists(file)) {
            continue;
        }
        // Never closed: NSPR's sigaction is bound into it.
        if (dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | kSigpipeGuardBinding) == nullptr) {
            const char *reason = dlerror();
            return "SIGPIPE guard " + file + " not loaded: " + (reason != nullptr ? reason : "dlopen failed");
        }
        return "SIGPIPE guard " + file + " loaded";
    }
    return std::string("no SIGPIPE guard: no ") + kSigpipeGuardFile + " beside this bridge";
}

}  // namespace

std::string PrepareForModules(const std::string &ownPath) {
    static const std::string prepared = LoadSigpipeGuard(ownPath);
    return prepared;
}

void *LoadModule(const std::string &path, std::string &error) {
    // A module's initialisers may ignore SIGPIPE too (OpenSC's do, through GIO).
    KeepSigpipeAction keep;
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char *reason = dlerror();
        error = reason != nullptr ? reason : "dlopen failed";
    }
    return module;
}

CK_RV InitializeModule(CK_C_Initialize initialize, CK_VOID_PTR args) {
    KeepSigpipeAction keep;
    return initialize(args);
}

void *ModuleSymbol(void *module, const char *name) { return dlsym(module, name); }

void UnloadModule(void *module) { dlclose(module); }

// Also at exit, where glibc keeps every library mapped until all their
// finalisers have run, so the dlclose only drops the count.
void ReleaseModuleAtUnload(void *module) { dlclose(module); }

void Diagnostic(const std::string &line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace kavro::bridge
