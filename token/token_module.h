// The five token modules, one per module kind: loaded and started on first
// use, kept until the process ends (never finalised, never unloaded).
#ifndef KAVRO_TOKEN_TOKEN_MODULE_H
#define KAVRO_TOKEN_TOKEN_MODULE_H

#include "kavro/cryptoki.h"
#include "token/module_loader.h"

namespace kavro {

constexpr int kModuleKindCount = 5;
constexpr int kLibraryNameSize = 100;

class TokenModule {
public:
    explicit TokenModule(const ModuleLoader &loader) : loader_(&loader) {}
    TokenModule(const TokenModule &) = delete;
    TokenModule &operator=(const TokenModule &) = delete;
    // Makes no module call and keeps the library loaded.
    virtual ~TokenModule() = default;

    // Loads the library, fetches both tables and initialises the module.
    // Steps already done are skipped; a failed step unloads the library so
    // that the next call starts over.
    bool Start(const char *primaryName, const char *fallbackName);

    CK_FUNCTION_LIST *functionList = nullptr;
    AuxFunctionList *auxFunctionList = nullptr;
    LibraryHandle library = nullptr;
    unsigned char initialised = 0;

private:
    void Abandon();

    const ModuleLoader *loader_;
};

// Fills the shared library-name buffer with the kind's file name and returns
// it; empty for a kind without a module.
const char *ModuleLibraryName(int kind);

// The started module's tables, or null when the kind names no module or the
// module cannot be started.
CK_FUNCTION_LIST *ModuleFunctions(int kind);
AuxFunctionList *ModuleAuxFunctions(int kind);

// Tests replace the loader before the first module call of the process.
void UseModuleLoaderForTesting(const ModuleLoader &loader);

}  // namespace kavro

#endif  // KAVRO_TOKEN_TOKEN_MODULE_H
