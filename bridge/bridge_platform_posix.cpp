// The bridge's platform seam on POSIX systems: dladdr for its own name,
// the XDG configuration folder then /etc, dlopen for the real module.
#include "bridge/bridge_platform.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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

void *LoadModule(const std::string &path, std::string &error) {
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char *reason = dlerror();
        error = reason != nullptr ? reason : "dlopen failed";
    }
    return module;
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
