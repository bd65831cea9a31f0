// The module bridge: a PKCS #11 module installed under a vendor module's
// file name. It forwards every standard call to the real module its
// settings name and adds the vendor extension E_GetAuxFunctionList with
// GetPinStatus. The real module is loaded at the first C_GetFunctionList and
// kept; the function list handed out is the real module's own, with
// C_GetFunctionList and C_Login (counted for GetPinStatus) put in.
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

namespace kavro::bridge {
namespace {

class Bridge {
public:
    // Loads the real module once. False, with the reason written to
    // standard error, when it cannot be had; the next call tries again.
    bool Start();
    // Asks the real module for its own extension table, once.
    void FindModuleAux();
    void Debug(const std::string &line) const;

    std::mutex mutex;
    bool started = false;
    bool auxAsked = false;
    bool debug = false;
    std::string name;
    void *module = nullptr;
    CK_FUNCTION_LIST *target = nullptr;
    std::atomic<AuxFunctionList *> targetAux{nullptr};
    CK_FUNCTION_LIST functions{};
    SoPinStatus soPinStatus;
};

Bridge &TheBridge() {
    static Bridge bridge;
    return bridge;
}

// Set while this thread starts the bridge: a configuration that leads back
// to this library would otherwise call C_GetFunctionList into itself.
thread_local bool starting = false;

std::string Hex(CK_RV rv) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(rv));
    return text;
}

// Starts the bridge under its lock. Every entry that may start it comes
// through here, and none may let an exception out to its C caller.
bool StartOnce(Bridge &bridge) {
    if (starting) {
        return false;
    }
    starting = true;
    bool started = false;
    try {
        std::lock_guard<std::mutex> lock(bridge.mutex);
        started = bridge.Start();
    } catch (...) {
        started = false;
    }
    starting = false;
    return started;
}

// Only reachable through the function list, so the bridge has started.
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
        Bridge &bridge = TheBridge();
        if (!StartOnce(bridge)) {
            return CKR_GENERAL_ERROR;
        }
        AuxFunctionList *targetAux = nullptr;
        {
            std::lock_guard<std::mutex> lock(bridge.mutex);
            bridge.FindModuleAux();
            targetAux = bridge.targetAux;
        }
        const char *source = "";
        CK_RV rv = bridge.soPinStatus.Fill(bridge.target, targetAux, slot, *status, source);
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

bool Bridge::Start() {
    if (started) {
        return true;
    }
    const std::string path = OwnPath();
    const std::size_t separator = path.find_last_of("/\\");
    name = separator == std::string::npos ? path : path.substr(separator + 1);
    const std::string debugValue = Environment(kDebugVariable);
    debug = !debugValue.empty() && debugValue != "0";
    Debug("loaded from " + (path.empty() ? std::string("an unknown file") : path));

    SettingsSources sources;
    sources.bridgeName = name;
    sources.moduleVariable = Environment(kModuleVariable);
    sources.soPinTriesVariable = Environment(kSoPinTriesVariable);
    sources.files = ConfigFiles(path);
    sources.sameName = SameFileName;
    BridgeSettings settings = ReadSettings(sources);
    for (const std::string &line : settings.trace) {
        Debug(line);
    }
    const std::string prefix = "kavro-bridge: " + (name.empty() ? std::string("bridge") : name) + ": ";
    if (!settings.error.empty()) {
        Diagnostic(prefix + settings.error);
        return false;
    }
    Debug("forwarding to " + settings.modulePath + " (from " + settings.moduleSource + ")");

    std::string error;
    void *loaded = LoadModule(settings.modulePath, error);
    if (loaded == nullptr) {
        Diagnostic(prefix + "cannot load " + settings.modulePath + ": " + error);
        return false;
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(ModuleSymbol(loaded, "C_GetFunctionList"));
    if (getFunctionList == nullptr) {
        Diagnostic(prefix + settings.modulePath + " is not a PKCS #11 module: it has no C_GetFunctionList");
        UnloadModule(loaded);
        return false;
    }
    if (getFunctionList == &C_GetFunctionList) {
        Diagnostic(prefix + settings.modulePath + " is this bridge itself, not a token module");
        UnloadModule(loaded);
        return false;
    }
    CK_FUNCTION_LIST *list = nullptr;
    CK_RV rv = getFunctionList(&list);
    if (rv != CKR_OK || list == nullptr) {
        Diagnostic(prefix + "C_GetFunctionList of " + settings.modulePath + " failed with " + Hex(rv) +
                   (rv == CKR_OK ? " and no function list" : ""));
        UnloadModule(loaded);
        return false;
    }
    module = loaded;
    target = list;
    functions = *list;
    functions.C_GetFunctionList = &C_GetFunctionList;
    if (functions.C_Login != nullptr) {
        functions.C_Login = &BridgeLogin;
    }
    soPinStatus.SetMaximum(settings.soPinTries);
    started = true;
    Debug("started; SO attempts count from " + std::to_string(settings.soPinTries));
    return true;
}

void Bridge::FindModuleAux() {
    if (auxAsked) {
        return;
    }
    auxAsked = true;
    auto getAux = reinterpret_cast<E_GetAuxFunctionListFunction>(ModuleSymbol(module, "E_GetAuxFunctionList"));
    AuxFunctionList *aux = nullptr;
    if (getAux != nullptr && getAux(&aux) == CKR_OK && aux != nullptr && aux->GetPinStatus != nullptr) {
        targetAux = aux;
        Debug("the module has its own GetPinStatus; it answers for the SO attempts");
    } else {
        Debug("the module has no GetPinStatus; the token's flags and the bridge's count answer");
    }
}

}  // namespace
}  // namespace kavro::bridge

using kavro::bridge::Bridge;
using kavro::bridge::TheBridge;


BRIDGE_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (list == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    Bridge &bridge = TheBridge();
    if (!kavro::bridge::StartOnce(bridge)) {
        return CKR_GENERAL_ERROR;
    }
    *list = &bridge.functions;
    return CKR_OK;
}

// The real module's own extension table is asked for here, as kavro asks
// for this one: right after the function list, before C_Initialize.
BRIDGE_EXPORT CK_RV E_GetAuxFunctionList(AuxFunctionList **list) {
    if (list == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    try {
        Bridge &bridge = TheBridge();
        std::lock_guard<std::mutex> lock(bridge.mutex);
        if (bridge.started) {
            bridge.FindModuleAux();
        }
        *list = &kavro::bridge::bridgeAux;
        return CKR_OK;
    } catch (...) {
        return CKR_HOST_MEMORY;
    }
}
