// Library loading for the harness on Windows: LoadLibraryA/GetProcAddress.
// A bare name is looked for beside the program, in the system folders, the
// current folder and on PATH, never beside the library that asks.
#include "library.h"

#include <windows.h>

namespace harness {

void *OpenLibrary(const std::string &name, std::string &error) {
    HMODULE library = LoadLibraryA(name.c_str());
    if (library == nullptr) {
        error = "LoadLibraryA(\"" + name + "\") failed with error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void *>(library);
}

void *FindExport(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace harness
