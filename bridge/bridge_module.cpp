// The module bridge: a PKCS #11 module installed under a vendor module's
// file name. It forwards every standard call to the real module its
// settings name and adds the vendor extension E_GetAuxFunctionList with
// GetPinStatus. The real module is loaded at the first C_GetFunctionList;
// the function list handed out is the real module's own, with
// C_GetFunctionList, C_Initialize (which passes the configured init-args),
// C_Finalize and C_Login (counted for GetPinStatus) put in. The bridge's
// lock is never held while another module is called.
#include "bridge/bridge_platform.h"
#include "bridge/bridge_settings.h"
#include "bridge/so_pin_status.h"
#include "kavro/cryptoki.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#if defined(_WIN32)
#define BRIDGE_EXPORT extern "C" __declspec(dllexport)
#else
#define BRIDGE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

BRIDGE_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);
BRIDGE_EXPORT CK_RV E_GetAuxFunctionList(AuxFunctionList **list);
BRIDGE_EXPORT int KavroBridgeMarker(void);

namespace kavro::bridge {
namespace {

// What a bridge looks for in a module before it forwards to it.
constexpr const char *kMarkerSymbol = "KavroBridgeMarker";

std::string FileName(const std::string &path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool DebugWanted() {
    const std::string value = Environment(kDebugVariable);
    return !value.empty() && value != "0";
}

class Bridge {
public:
    Bridge() : path(OwnPath()), name(FileName(path)), debug(DebugWanted()) {}
    // The bridge is being unloaded: the real module goes with it unless it
    // is still initialised through the bridge, when its functions may
    // still be in use.
    ~Bridge() {
        if (module != nullptr && !initialised.load()) {
            ReleaseModuleAtUnload(module);
        }
    }
    Bridge(const Bridge &) = delete;
    Bridge &operator=(const Bridge &) = delete;

    // Loads the real module once. False, with the reason written to
    // standard error, when it cannot be had; the next call tries again.
    bool Start();
    // Asks the real module for its own extension table, once it has started.
    void FindModuleAux();
    void Debug(const std::string &line) const;
    // The one line on standard error that says why something failed.
    void Fail(const std::string &line) const;

    const std::string path;  // this library's own file, as the loader found it
    const std::string name;
    const bool debug;

    std::mutex mutex;
    bool started = false;   // under mutex; module to functions are set before it, once
    bool auxAsked = false;  // under mutex
    void *module = nullptr;
    std::string modulePath;
    std::string initArgs;
    CK_FUNCTION_LIST *target = nullptr;
    CK_FUNCTION_LIST functions{};
    std::atomic<AuxFunctionList *> targetAux{nullptr};
    // The real module answered CKR_OK to a C_Initialize through the bridge
    // and has not been finalised through it since.
    std::atomic<bool> initialised{false};
    SoPinStatus soPinStatus;
};

Bridge &TheBridge() {
    static Bridge bridge;
    return bridge;
}

// Set while this thread starts the bridge: a module that calls back into
// this library while it starts would otherwise start it again, endlessly.
thread_local bool starting = false;

// A loaded module, given back unless it is kept.
class LoadedModule {
public:
    explicit LoadedModule(void *module) : module_(module) {}
    ~LoadedModule() {
        if (module_ != nullptr) {
            UnloadModule(module_);
        }
    }
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;
    void *get() const { return module_; }
    void *Keep() {
        void *module = module_;
        module_ = nullptr;
        return module;
    }

private:
    void *module_;
};

std::string Hex(CK_RV rv) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(rv));
    return text;
}

// The file a loader would take for a bridge file of this name: beside this
// bridge, else in a folder of the library search path; empty when none is.
std::string FindBridgeFile(const std::string &name, const std::string &ownPath) {
    const LibrarySearch search = LibrarySearchPath();
    const std::size_t separator = ownPath.find_last_of("/\\");
    std::string folders = Environment(search.variable);
    if (separator != std::string::npos) {
        folders = ownPath.substr(0, separator) + search.listSeparator + folders;
    }
    for (std::size_t start = 0; start < folders.size();) {
        std::size_t end = folders.find(search.listSeparator, start);
        end = end == std::string::npos ? folders.size() : end;
        std::string file = folders.substr(start, end - start) + search.folderSeparator + name;
        if (end > start && FileExists(file)) {
            return file;
        }
        start = end + 1;
    }
    return {};
}

// Starts the bridge. Every entry that may start it comes through here, and
// none may let an exception out to its C caller.
bool StartOnce() {
    if (starting) {
        return false;
    }
    starting = true;
    bool started = false;
    try {
        started = TheBridge().Start();
    } catch (...) {
        started = false;
    }
    starting = false;
    return started;
}

// Only reachable through the function list, so the bridge has started.
CK_RV BridgeInitialize(CK_VOID_PTR args) {
    Bridge &bridge = TheBridge();
    // The host's flags and mutex functions, with the configured text as pReserved.
    CK_C_INITIALIZE_ARGS withText{};
    if (!bridge.initArgs.empty()) {
        if (args != nullptr) {
            withText = *static_cast<CK_C_INITIALIZE_ARGS *>(args);
        }
        withText.pReserved = bridge.initArgs.data();
        args = &withText;
    }
    const CK_RV rv = InitializeModule(bridge.target->C_Initialize, args);
    if (rv == CKR_OK) {
        bridge.initialised = true;
    }
    try {
        // CKR_CANT_LOCK asks the host to initialise it again without locking.
        if (rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED || rv == CKR_CANT_LOCK) {
            bridge.Debug("C_Initialize" + std::string(bridge.initArgs.empty() ? "" : " with init-args") + ": " + Hex(rv));
        } else {
            bridge.Fail("C_Initialize of " + bridge.modulePath + " failed with " + Hex(rv) +
                        (rv == CKR_ARGUMENTS_BAD && bridge.initArgs.empty()
                             ? "; a module that needs initialisation arguments takes them from " + bridge.name +
                                   kInitArgsSuffix + " in bridge.conf"
                             : ""));
        }
    } catch (...) {
        // The line is lost; the result stands.
    }
    return rv;
}

CK_RV BridgeFinalize(CK_VOID_PTR reserved) {
    Bridge &bridge = TheBridge();
    const CK_RV rv = bridge.target->C_Finalize(reserved);
    if (rv == CKR_OK) {
        bridge.initialised = false;
    }
    return rv;
}

CK_RV BridgeLogin(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength) {
    Bridge &bridge = TheBridge();
    CK_RV rv = bridge.target->C_Login(session, user, pin, pinLength);
    // A module that tells the attempts itself needs no count, and no calls made for one.
    if (user == CKU_SO && bridge.targetAux.load() == nullptr) {
        try {
            bridge.soPinStatus.LoginSeen(bridge.target, session, rv);
        } catch (...) {
            // The count misses one login; the login's result stands.
        }
    }
    return rv;
}

CK_RV BridgeGetPinStatus(CK_SLOT_ID slot, PinStatus *status) {
    if (status == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    try {
        if (!StartOnce()) {
            return CKR_GENERAL_ERROR;
        }
        Bridge &bridge = TheBridge();
        bridge.FindModuleAux();
        const char *source = "";
        CK_RV rv = bridge.soPinStatus.Fill(bridge.target, bridge.targetAux.load(), slot, *status, source);
        bridge.Debug("GetPinStatus slot " + std::to_string(slot) + ": " + std::to_string(status->soTriesLeft) +
                     " from " + source + (rv == CKR_OK ? "" : ", result " + Hex(rv)));
        return rv;
    } catch (...) {
        return CKR_HOST_MEMORY;
    }
}

AuxFunctionList bridgeAux = {{1, 0}, nullptr, nullptr, BridgeGetPinStatus};

void Bridge::Debug(const std::string &line) const {
    if (debug) {
        Diagnostic("kavro-bridge: " + name + ": " + line);
    }
}

void Bridge::Fail(const std::string &line) const {
    Diagnostic("kavro-bridge: " + (name.empty() ? std::string("bridge") : name) + ": " + line);
}

bool Bridge::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (started) {
            return true;
        }
    }
    // From here on the bridge's lock is not held: loading the module runs
    // its initialisers, and its C_GetFunctionList may call anywhere.
    Debug("loaded from " + (path.empty() ? std::string("an unknown file") : path));
    SettingsSources sources;
    sources.bridgeName = name;
    sources.moduleVariable = Environment(kModuleVariable);
    sources.initArgsVariable = Environment(kInitArgsVariable);
    sources.soPinTriesVariable = Environment(kSoPinTriesVariable);
    sources.files = ConfigFiles(path);
    sources.sameName = SameFileName;
    if (debug) {
        const std::string ownPath = path;
        sources.findBridgeFile = [ownPath](const std::string &other) { return FindBridgeFile(other, ownPath); };
        sources.isThisLibrary = [ownPath](const std::string &file) { return IsSameLibrary(file, ownPath); };
        sources.bridgeFolders = std::string("beside this bridge or in a folder of ") + LibrarySearchPath().variable;
    }
    BridgeSettings settings = ReadSettings(sources);
    for (const std::string &line : settings.trace) {
        Debug(line);
    }
    if (!settings.error.empty()) {
        Fail(settings.error);
        return false;
    }
    Debug("forwarding to " + settings.modulePath + " (from " + settings.moduleSource + ")");
    const std::string prepared = PrepareForModules(path);
    if (!prepared.empty()) {
        Debug(prepared);
    }

    std::string error;
    LoadedModule loaded(LoadModule(settings.modulePath, error));
    if (loaded.get() == nullptr) {
        Fail("cannot load " + settings.modulePath + ": " + error);
        return false;
    }
    // Two bridges that forward to each other would call each other for ever.
    if (void *marker = ModuleSymbol(loaded.get(), kMarkerSymbol)) {
        Fail(settings.modulePath + (marker == reinterpret_cast<void *>(&KavroBridgeMarker)
                                        ? " is this bridge itself, not a token module"
                                        : " is a kavro bridge too; a bridge forwards to a token module only"));
        return false;
    }
    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(ModuleSymbol(loaded.get(), "C_GetFunctionList"));
    if (getFunctionList == nullptr) {
        Fail(settings.modulePath + " is not a PKCS #11 module: it has no C_GetFunctionList");
        return false;
    }
    CK_FUNCTION_LIST *list = nullptr;
    CK_RV rv = getFunctionList(&list);
    if (rv != CKR_OK || list == nullptr) {
        Fail("C_GetFunctionList of " + settings.modulePath + " failed with " + Hex(rv) +
             (rv == CKR_OK ? " and no function list" : ""));
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Another thread may have started the bridge meanwhile; this
        // thread's reference to the module is then given back.
        if (started) {
            return true;
        }
        module = loaded.Keep();
        modulePath = settings.modulePath;
        initArgs = settings.initArgs;
        target = list;
        functions = *list;
        functions.C_GetFunctionList = &C_GetFunctionList;
        if (functions.C_Initialize != nullptr) {
            functions.C_Initialize = &BridgeInitialize;
        }
        if (functions.C_Finalize != nullptr) {
            functions.C_Finalize = &BridgeFinalize;
        }
        if (functions.C_Login != nullptr) {
            functions.C_Login = &BridgeLogin;
        }
        soPinStatus.SetMaximum(settings.soPinTries);
        started = true;
    }
    Debug("started; SO attempts count from " + std::to_string(settings.soPinTries));
    return true;
}

void Bridge::FindModuleAux() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!started || auxAsked) {
            return;
        }
    }
    auto getAux = reinterpret_cast<E_GetAuxFunctionListFunction>(ModuleSymbol(module, "E_GetAuxFunctionList"));
    AuxFunctionList *aux = nullptr;
    const bool own =
        getAux != nullptr && getAux(&aux) == CKR_OK && aux != nullptr && aux->GetPinStatus != nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (auxAsked) {
            return;
        }
        auxAsked = true;
        if (own) {
            targetAux = aux;
        }
    }
    Debug(own ? "the module has its own GetPinStatus; it answers for the SO attempts"
              : "the module has no GetPinStatus; the token's flags and the bridge's count answer");
}

}  // namespace
}  // namespace kavro::bridge

using kavro::bridge::TheBridge;

BRIDGE_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (list == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!kavro::bridge::StartOnce()) {
        return CKR_GENERAL_ERROR;
    }
    *list = &TheBridge().functions;
    return CKR_OK;
}

// The real module's own extension table is asked for here, as kavro asks
// for this one: right after the function list, before C_Initialize.
BRIDGE_EXPORT CK_RV E_GetAuxFunctionList(AuxFunctionList **list) {
    if (list == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    try {
        TheBridge().FindModuleAux();
        *list = &kavro::bridge::bridgeAux;
        return CKR_OK;
    } catch (...) {
        return CKR_HOST_MEMORY;
    }
}

// Marks this library as a kavro bridge, which another bridge refuses to
// forward to. Never called.
BRIDGE_EXPORT int KavroBridgeMarker(void) { return 1; }
