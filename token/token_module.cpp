// The token module table: maps a module kind to its library file name and
// starts each module at most once per process.
#include "token/token_module.h"

#include <array>
#include <cstring>

namespace kavro {
namespace {

constexpr const char *kLibraryNames[kModuleKindCount] = {
    "zelcsp11.dll", "orbeka-ca_csp11.dll", "dunmere-ca.dll", "talvis-ca.dll", "MorvenCA.dll",
};

// Shared by all kinds; calls come from one thread at a time.
char libraryNameBuffer[kLibraryNameSize];

const ModuleLoader *moduleLoader = nullptr;

class TokenModuleTable {
public:
    explicit TokenModuleTable(const ModuleLoader &loader)
        : modules_{TokenModule(loader), TokenModule(loader), TokenModule(loader), TokenModule(loader),
                   TokenModule(loader)} {}

    TokenModule &operator[](int kind) { return modules_[kind]; }

private:
    // Built in place: TokenModule is neither copyable nor movable, so the
    // elements are constructed directly by guaranteed copy elision.
    std::array<TokenModule, kModuleKindCount> modules_;
};

TokenModuleTable &Table() {
    // Created on first use, destroyed at unload; thread-safe creation.
    static TokenModuleTable table(moduleLoader != nullptr ? *moduleLoader : PlatformLoader());
    return table;
}

TokenModule *StartedModule(int kind) {
    TokenModuleTable &table = Table();
    if (kind < 0 || kind >= kModuleKindCount) {
        return nullptr;
    }
    // A started module needs neither its name nor a start: every step of
    // Start would be skipped.
    TokenModule &started = table[kind];
    if (started.initialised == 1 && started.library != nullptr && started.functionList != nullptr &&
        started.auxFunctionList != nullptr) {
        return &started;
    }
    const char *name = ModuleLibraryName(kind);
    if (name[0] == '\0') {
        return nullptr;
    }
    TokenModule &module = table[kind];
    // The same name twice: a missing library is looked for twice per start.
    if (!module.Start(name, name)) {
        return nullptr;
    }
    return &module;
}

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
    CK_RV rv = functionList->C_Initialize(nullptr);
    if (rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        initialised = 1;
        return true;
    }
    initialised = 0;
    Abandon();
    return false;
}

const char *ModuleLibraryName(int kind) {
    std::memset(libraryNameBuffer, 0, sizeof libraryNameBuffer);
    if (kind >= 0 && kind < kModuleKindCount) {
        std::strcpy(libraryNameBuffer, kLibraryNames[kind]);
    }
    return libraryNameBuffer;
}

CK_FUNCTION_LIST *ModuleFunctions(int kind) {
    TokenModule *module = StartedModule(kind);
    return module != nullptr ? module->functionList : nullptr;
}

AuxFunctionList *ModuleAuxFunctions(int kind) {
    TokenModule *module = StartedModule(kind);
    return module != nullptr ? module->auxFunctionList : nullptr;
}

void UseModuleLoaderForTesting(const ModuleLoader &loader) { moduleLoader = &loader; }

}  // namespace kavro
