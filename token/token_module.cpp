// The token module table: maps a module kind to its library file name and
// starts each module at most once per process.
#include "token/token_module.h"

#include <cstring>

namespace kavro {
namespace {

constexpr const char *kLibraryNames[kModuleKindCount] = {
    "zelcsp11.dll", "orbeka-ca_csp11.dll", "dunmere-ca.dll", "talvis-ca.dll", "MorvenCA.dll",
};

}  // namespace

void TokenModule::Abandon() {
    loader_->Unload(library);
    library = nullptr;
    functionList = nullptr;
    auxFunctionList = nullptr;
}

bool TokenModule::Start(const char *primaryName, const char *fallbackName) {
    if (library == nullptr) {
        library = loader_->Load(primaryName);
        if (library == nullptr && fallbackName != nullptr) {
            library = loader_->Load(fallbackName);
        }
        if (library == nullptr) {
            return false;
        }
    }
    if (functionList == nullptr) {
        auto getFunctionList =
            reinterpret_cast<CK_C_GetFunctionList>(loader_->Symbol(library, "C_GetFunctionList"));
        if (getFunctionList == nullptr || getFunctionList(&functionList) != CKR_OK) {
            Abandon();
            return false;
        }
    }
    if (auxFunctionList == nullptr) {
        auto getAuxFunctionList =
            reinterpret_cast<E_GetAuxFunctionListFunction>(loader_->Symbol(library, "E_GetAuxFunctionList"));
        if (getAuxFunctionList == nullptr || getAuxFunctionList(&auxFunctionList) != 0) {
            Abandon();
            return false;
        }
    }
    // A module that answers with a null table has not given one.
    if (functionList == nullptr || auxFunctionList == nullptr || functionList->C_Initialize == nullptr) {
        Abandon();
        return false;
    }
    if (initialised == 1) {
        return true;
    }
    const bool restart = starts.load(std::memory_order_relaxed) != 0;
    if (restart) {
        // The module lost every session when it was finalised: handles kept
        // from before would name nothing, or another user's new sessions.
        slots.ForgetSessions();
    }
    // Java threads may call at once: the module is asked to lock with the
    // system's own primitives.
    CK_C_INITIALIZE_ARGS threads{};
    threads.flags = CKF_OS_LOCKING_OK;
    CK_RV rv = functionList->C_Initialize(&threads);
    if (rv == CKR_CANT_LOCK) {
        rv = functionList->C_Initialize(nullptr);
        if (rv == CKR_OK) {
            oneCallAtATime.store(true, std::memory_order_relaxed);
        }
    }
    if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        // Started by another user in the process (or by an earlier load of
        // this library), who may have promised it a single thread: it is
        // taken as it stands and called one call at a time.
        oneCallAtATime.store(true, std::memory_order_relaxed);
        rv = CKR_OK;
    }
    if (rv == CKR_OK) {
        initialised = 1;
        starts.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    initialised = 0;
    if (!restart) {
        Abandon();
    }
    return false;
}

TokenModuleTable::TokenModuleTable(const ModuleLoader &loader)
    : modules_{TokenModule(loader), TokenModule(loader), TokenModule(loader), TokenModule(loader),
               TokenModule(loader)} {}

TokenModuleTable &TokenModuleTable::Instance() {
    static TokenModuleTable table(PlatformLoader());
    return table;
}

const char *TokenModuleTable::LibraryName(int kind) {
    std::memset(libraryName_, 0, sizeof libraryName_);
    if (kind >= 0 && kind < kModuleKindCount) {
        std::strcpy(libraryName_, kLibraryNames[kind]);
    }
    return libraryName_;
}

TokenModule *TokenModuleTable::Start(int kind) {
    if (kind < 0 || kind >= kModuleKindCount) {
        return nullptr;
    }
    TokenModule &module = modules_[static_cast<std::size_t>(kind)];
    std::lock_guard<std::mutex> lock(startLock_);
    if (module.started.load(std::memory_order_relaxed)) {
        return &module;
    }
    const char *name = LibraryName(kind);
    if (name[0] == '\0') {
        return nullptr;
    }
    // The same name twice: a missing library is looked for twice per start.
    if (!module.Start(name, name)) {
        return nullptr;
    }
    module.started.store(true, std::memory_order_release);
    return &module;
}

void TokenModuleTable::Stopped(TokenModule &module, unsigned startsSeen) {
    std::lock_guard<std::mutex> lock(startLock_);
    if (module.started.load(std::memory_order_relaxed) &&
        module.starts.load(std::memory_order_relaxed) == startsSeen) {
        module.initialised = 0;
        module.started.store(false, std::memory_order_release);
    }
}

}  // namespace kavro
