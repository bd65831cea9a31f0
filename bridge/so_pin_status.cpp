// GetPinStatus for modules that lack it: the token's PIN flags, or the
// bridge's own count of SO attempts.
#include "bridge/so_pin_status.h"

#include <cstring>

namespace kavro::bridge {

void SoPinStatus::SetMaximum(int maximum) {
    std::lock_guard<std::mutex> lock(mutex_);
    maximum_ = maximum;
}

CK_RV SoPinStatus::ReadToken(CK_FUNCTION_LIST *functions, CK_SLOT_ID slot, TokenKey &key, CK_FLAGS &flags) {
    if (functions->C_GetTokenInfo == nullptr) {
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = functions->C_GetTokenInfo(slot, &info);
    if (rv == CKR_OK) {
        key = TokenKey(slot, std::string(reinterpret_cast<const char *>(info.serialNumber), sizeof info.serialNumber));
        flags = info.flags;
    }
    return rv;
}

void SoPinStatus::LoginSeen(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_RV loginResult) {
    if (loginResult != CKR_OK && loginResult != CKR_USER_ALREADY_LOGGED_IN && loginResult != CKR_PIN_INCORRECT &&
        loginResult != CKR_PIN_LOCKED) {
        return;
    }
    CK_SESSION_INFO sessionInfo;
    std::memset(&sessionInfo, 0, sizeof sessionInfo);
    if (functions->C_GetSessionInfo == nullptr || functions->C_GetSessionInfo(session, &sessionInfo) != CKR_OK) {
        return;
    }
    TokenKey key;
    CK_FLAGS flags = 0;
    if (ReadToken(functions, sessionInfo.slotID, key, flags) != CKR_OK) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = left_.emplace(key, maximum_).first;
    if (loginResult == CKR_PIN_INCORRECT) {
        entry->second = entry->second > 0 ? entry->second - 1 : 0;
    } else if (loginResult == CKR_PIN_LOCKED) {
        entry->second = 0;
    } else {
        entry->second = maximum_;
    }
}

CK_RV SoPinStatus::Fill(CK_FUNCTION_LIST *functions, AuxFunctionList *moduleAux, CK_SLOT_ID slot, PinStatus &status,
                        const char *&source) {
    std::memset(&status, 0, sizeof status);
    if (moduleAux != nullptr && moduleAux->GetPinStatus != nullptr) {
        source = "the module's own GetPinStatus";
        return moduleAux->GetPinStatus(slot, &status);
    }
    TokenKey key;
    CK_FLAGS flags = 0;
    CK_RV rv = ReadToken(functions, slot, key, flags);
    if (rv != CKR_OK) {
        source = "nothing: the token information cannot be read";
        return rv;
    }
    if (flags & CKF_SO_PIN_LOCKED) {
        source = "the token's flags (SO PIN locked)";
        status.soTriesLeft = 0;
        return CKR_OK;
    }
    if (flags & CKF_SO_PIN_FINAL_TRY) {
        source = "the token's flags (final try)";
        status.soTriesLeft = 1;
        return CKR_OK;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = left_.find(key);
    status.soTriesLeft = static_cast<CK_BYTE>(entry != left_.end() ? entry->second : maximum_);
    source = "the bridge's count of SO logins";
    return CKR_OK;
}

}  // namespace kavro::bridge
