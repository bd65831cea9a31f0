// The platform loader seam: load a module library by the bare file name,
// look up an exported entry point, unload. One implementation per platform.
#ifndef KAVRO_TOKEN_MODULE_LOADER_H
#define KAVRO_TOKEN_MODULE_LOADER_H

namespace kavro {

using LibraryHandle = void *;

struct ModuleLoader {
    LibraryHandle (*Load)(const char *name);  // null when the library cannot be loaded
    void *(*Symbol)(LibraryHandle library, const char *name);
    void (*Unload)(LibraryHandle library);
};

// The platform's loader: dlopen/dlsym/dlclose or LoadLibraryA/GetProcAddress/FreeLibrary.
const ModuleLoader &PlatformLoader();

}  // namespace kavro

#endif  // KAVRO_TOKEN_MODULE_LOADER_H
