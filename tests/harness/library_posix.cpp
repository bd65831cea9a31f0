// Library loading for the harness on POSIX systems: dlopen/dlsym.
#include "library.h"

#include <dlfcn.h>

namespace harness {

void *OpenLibrary(const std::string &name, std::string &error) {
    void *library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *reason = dlerror();
        error = reason != nullptr ? reason : "dlopen failed";
    }
    return library;
}

void *FindExport(void *library, const char *name) { return dlsym(library, name); }

}  // namespace harness
