// Module loading on POSIX systems: the bare file name goes to dlopen as it
// stands, so the dynamic loader's own search path decides where it is found.
#include "token/module_loader.h"

#include <dlfcn.h>

namespace kavro {
namespace {

LibraryHandle LoadLibraryByName(const char *name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void *LookUpSymbol(LibraryHandle library, const char *name) { return dlsym(library, name); }

void UnloadLibrary(LibraryHandle library) { dlclose(library); }

}  // namespace

const ModuleLoader &PlatformLoader() {
    static constexpr ModuleLoader loader{LoadLibraryByName, LookUpSymbol, UnloadLibrary};
    return loader;
}

}  // namespace kavro
