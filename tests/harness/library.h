// The harness's platform seam: open a shared library by path or bare file
// name through the platform loader, and find an export by name.
#ifndef KAVRO_HARNESS_LIBRARY_H
#define KAVRO_HARNESS_LIBRARY_H

#include <string>

namespace harness {

// Null, with the loader's reason in error, when the library cannot be loaded.
// Libraries stay loaded until the process ends.
void *OpenLibrary(const std::string &name, std::string &error);

void *FindExport(void *library, const char *name);

}  // namespace harness

#endif  // KAVRO_HARNESS_LIBRARY_H
