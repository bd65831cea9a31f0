// The bridge's platform seam on Windows: the DLL's own file name, a
// configuration beside the DLL then in %APPDATA%, LoadLibraryA for the real
// module.
#include "bridge/bridge_platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kavro::bridge {

std::string OwnPath() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&OwnPath), &self)) {
        return {};
    }
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(self, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return {};
    }
    return std::string(path, length);
}

std::vector<std::string> ConfigFiles(const std::string &ownPath) {
    std::vector<std::string> files;
    std::size_t separator = ownPath.find_last_of("\\/");
    if (separator != std::string::npos) {
        files.push_back(ownPath.substr(0, separator + 1) + "bridge.conf");
    }
    std::string appData = Environment("APPDATA");
    if (!appData.empty()) {
        files.push_back(appData + "\\kavro\\bridge.conf");
    }
    return files;
}

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool SameFileName(const std::string &a, const std::string &b) {
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

LibrarySearch LibrarySearchPath() { return LibrarySearch{"PATH", ';', '\\'}; }

bool FileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The Windows loader tells modules apart by their paths: a file under
// another name, even a hard link, is loaded as a module of its own.
bool IsSameLibrary(const std::string &, const std::string &) { return false; }

// Windows has no SIGPIPE to keep from a module.
std::string PrepareForModules(const std::string &) { return {}; }

void *LoadModule(const std::string &path, std::string &error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void *>(module);
}

CK_RV InitializeModule(CK_C_Initialize initialize, CK_VOID_PTR args) { return initialize(args); }

void *ModuleSymbol(void *module, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void *module) { FreeLibrary(static_cast<HMODULE>(module)); }

// The bridge is being unloaded from its DllMain, where Windows rules out
// FreeLibrary: the real module stays loaded until the process ends, and a
// bridge loaded again takes it as it is.
void ReleaseModuleAtUnload(void *) {}

void Diagnostic(const std::string &line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace kavro::bridge
