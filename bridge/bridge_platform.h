// The bridge's platform seam: the file it was loaded from, where its
// configuration files live, the environment, loading and starting the real
// module, and the diagnostic stream. One implementation per platform.
#ifndef KAVRO_BRIDGE_BRIDGE_PLATFORM_H
#define KAVRO_BRIDGE_BRIDGE_PLATFORM_H

#include "kavro/cryptoki.h"

#include <string>
#include <vector>

namespace kavro::bridge {

// The path the loader found this library at (a link's own name, not its
// target's), or empty when the platform cannot tell.
std::string OwnPath();

// The configuration files, in the order they are consulted.
std::vector<std::string> ConfigFiles(const std::string &ownPath);

// The value of an environment variable; empty when unset.
std::string Environment(const char *name);

// True when two file names name the same bridge file on this platform
// (Windows compares them without regard to case).
bool SameFileName(const std::string &a, const std::string &b);

// The library search path: its variable, the character between its
// folders, and the one between a folder and a file name. The debug output
// looks for bridge files there.
struct LibrarySearch {
    const char *variable;
    char listSeparator;
    char folderSeparator;
};
LibrarySearch LibrarySearchPath();
bool FileExists(const std::string &path);
// True when the loader takes the file at path for the library at ownPath:
// one library reached under two names.
bool IsSameLibrary(const std::string &path, const std::string &ownPath);

// Readies the process for real modules, once, before the first is loaded:
// on Linux, loads the SIGPIPE guard from beside this bridge. Says what was
// done, for the debug output; empty when there is nothing to do.
std::string PrepareForModules(const std::string &ownPath);
// Null, with the loader's reason in error, when the module cannot be loaded.
void *LoadModule(const std::string &path, std::string &error);
// The real module's C_Initialize, the host's signal handling kept (on
// POSIX, the SIGPIPE action is put back if the module changed it).
CK_RV InitializeModule(CK_C_Initialize initialize, CK_VOID_PTR args);
void *ModuleSymbol(void *module, const char *name);
void UnloadModule(void *module);
// Called as the bridge itself is unloaded, with the real module no longer
// initialised through it: gives back the bridge's reference where the
// platform allows that at this point.
void ReleaseModuleAtUnload(void *module);

// Writes one line to standard error.
void Diagnostic(const std::string &line);

}  // namespace kavro::bridge

#endif  // KAVRO_BRIDGE_BRIDGE_PLATFORM_H
