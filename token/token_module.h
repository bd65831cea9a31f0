// The five token modules, one per module kind: loaded and started on first
// use, kept until the process ends (never finalised, never unloaded).
// Starting is serialised by the table's lock; a started module's tables are
// read without it.
#ifndef KAVRO_TOKEN_TOKEN_MODULE_H
#define KAVRO_TOKEN_TOKEN_MODULE_H

#include "kavro/cryptoki.h"
#include "token/module_loader.h"

#include <array>
#include <atomic>
#include <mutex>

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

    // Loads the library, fetches both tables and initialises the module,
    // asking it to use the system's own locking so that calls can come from
    // several threads; a module that cannot (CKR_CANT_LOCK) is initialised
    // for one thread and marked oneCallAtATime. Steps already done are
    // skipped; a failed step unloads the library so that the next call
    // starts over. The caller holds the table's start lock.
    bool Start(const char *primaryName, const char *fallbackName);

    CK_FUNCTION_LIST *functionList = nullptr;
    AuxFunctionList *auxFunctionList = nullptr;
    LibraryHandle library = nullptr;
    unsigned char initialised = 0;
    // Set when the module was initialised for one thread: every call into
    // it is then made holding callLock.
    bool oneCallAtATime = false;
    std::mutex callLock;
    // Set once the start has succeeded; the fields above no longer change.
    std::atomic<bool> started{false};

private:
    void Abandon();

    const ModuleLoader *loader_;
};

// The five modules of the process, by module kind.
class TokenModuleTable {
public:
    explicit TokenModuleTable(const ModuleLoader &loader);
    TokenModuleTable(const TokenModuleTable &) = delete;
    TokenModuleTable &operator=(const TokenModuleTable &) = delete;

    // The process's table, with the platform's loader. Created on first
    // use (thread-safe), destroyed at unload.
    static TokenModuleTable &Instance();

    // The kind's module, started; null when the kind names no module or the
    // module cannot be started. A started module is found without the lock.
    TokenModule *Started(int kind) {
        if (kind >= 0 && kind < kModuleKindCount) {
            TokenModule &module = modules_[static_cast<std::size_t>(kind)];
            if (module.started.load(std::memory_order_acquire)) {
                return &module;
            }
        }
        return Start(kind);
    }

    // Fills the table's library-name buffer with the kind's file name and
    // returns it; empty for a kind without a module. Starts use it under
    // the start lock.
    const char *LibraryName(int kind);

private:
    // Starts the kind's module under the start lock.
    TokenModule *Start(int kind);

    std::mutex startLock_;
    char libraryName_[kLibraryNameSize] = {};
    std::array<TokenModule, kModuleKindCount> modules_;
};

// The started module's tables, from the process's table, or null.
CK_FUNCTION_LIST *ModuleFunctions(int kind);
AuxFunctionList *ModuleAuxFunctions(int kind);

// Holds a module's call lock when the module takes one call at a time;
// holds nothing otherwise.
class ModuleCallGuard {
public:
    explicit ModuleCallGuard(TokenModule *module) {
        if (module != nullptr && module->oneCallAtATime) {
            lock_ = std::unique_lock<std::mutex>(module->callLock);
        }
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_TOKEN_MODULE_H
