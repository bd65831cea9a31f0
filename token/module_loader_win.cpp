// Module loading on Windows: the bare file name goes to LoadLibraryA as it
// stands, so the system's DLL search order decides where it is found (the
// program's folder, the system folders, the current folder, PATH; not the
// folder of this library).
#include "token/module_loader.h"

#include <windows.h>

namespace kavro {
namespace {

LibraryHandle LoadLibraryByName(const char *name) { return reinterpret_cast<LibraryHandle>(LoadLibraryA(name)); }

void *LookUpSymbol(LibraryHandle library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(LibraryHandle library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace

const ModuleLoader &PlatformLoader() {
    static constexpr ModuleLoader loader{LoadLibraryByName, LookUpSymbol, UnloadLibrary};
    return loader;
}

}  // namespace kavro
