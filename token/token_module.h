// The five token modules, one per module kind: loaded and started on first
// use, kept until the process ends (never finalised, never unloaded).
// Starting is serialised by the table's lock; a started module's tables are
// read without it.
#ifndef KAVRO_TOKEN_TOKEN_MODULE_H
#define KAVRO_TOKEN_TOKEN_MODULE_H

#include "kavro/cryptoki.h"
#include "token/module_loader.h"
#include "token/slot_registry.h"

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
    // several threads. A module that cannot (CKR_CANT_LOCK) is initialised
    // for one thread, and one that someone else in the process initialised
    // first keeps whatever its initialiser promised: both are marked
    // oneCallAtATime. Steps already done are skipped; a failed first start
    // unloads the library so that the next call starts over. A restart
    // (after Stop) forgets every session of the module's slots first and
    // never unloads: calls begun before it may still hold the tables. The
    // caller holds the table's start lock.
    bool Start(const char *primaryName, const char *fallbackName);

    CK_FUNCTION_LIST *functionList = nullptr;
    AuxFunctionList *auxFunctionList = nullptr;
    LibraryHandle library = nullptr;
    unsigned char initialised = 0;
    // Set when the module must not be called by two threads at once: every
    // call into it is then made holding callLock. Once set, it stays set.
    std::atomic<bool> oneCallAtATime{false};
    std::mutex callLock;
    // Set once a start has succeeded, cleared when the module is found
    // finalised behind the library's back. The tables no longer change
    // after the first start.
    std::atomic<bool> started{false};
    // Successful starts so far: a call remembers the count it began under,
    // so that a stop it asks for cannot undo a restart made since.
    std::atomic<unsigned> starts{0};
    // The slots this module's discoveries found; no other kind sees them.
    SlotRegistry slots;

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

    // Marks the module not started when it answered
    // CKR_CRYPTOKI_NOT_INITIALIZED (someone else finalised it) to a call
    // begun under startsSeen: the next call that needs it starts it again.
    // The caller holds no slot's lock.
    void Stopped(TokenModule &module, unsigned startsSeen);

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

// Holds a module's call lock when the module takes one call at a time;
// holds nothing otherwise. The one place the call lock is taken.
class ModuleCallGuard {
public:
    ModuleCallGuard() = default;
    explicit ModuleCallGuard(TokenModule *module) { Take(module); }

    void Take(TokenModule *module) {
        if (module != nullptr && module->oneCallAtATime.load(std::memory_order_relaxed)) {
            lock_ = std::unique_lock<std::mutex>(module->callLock);
        }
    }
    void Release() noexcept {
        if (lock_.owns_lock()) {
            lock_.unlock();
        }
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_TOKEN_MODULE_H
