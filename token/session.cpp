// Sessions and login on a slot: the slot's own session, and the mapping of
// C_Login results that every login path shares.
#include "kavro/result_code.h"
#include "token/module_call.h"
#include "token/token_slot.h"

namespace kavro {

CK_SESSION_HANDLE TokenSlot::OpenSession(CK_FUNCTION_LIST *functions) {
    // An earlier handle is overwritten without C_CloseSession; that session
    // stays open in the module.
    CK_SESSION_HANDLE opened = 0;
    bool openedReadOnly = false;
    CK_RV rv = ModuleCall(functions->C_OpenSession, slotId_, CKF_RW_SESSION | CKF_SERIAL_SESSION, nullptr, nullptr,
                          &opened);
    if (rv == CKR_TOKEN_WRITE_PROTECTED) {
        // A write-protected token (a store of CA certificates, say) is still
        // read: its writes then answer the module's CKR_SESSION_READ_ONLY.
        rv = ModuleCall(functions->C_OpenSession, slotId_, CKF_SERIAL_SESSION, nullptr, nullptr, &opened);
        openedReadOnly = true;
    }
    if (rv != CKR_OK || opened == 0) {
        return 0;
    }
    session_ = opened;
    readOnly_ = openedReadOnly;
    ResetSessionMarks();
    return session_;
}

CK_RV TokenSlot::CloseSession(CK_FUNCTION_LIST *functions) {
    if (session_ == 0) {
        return CKR_OK;
    }
    CK_RV rv = ModuleCall(functions->C_CloseSession, session_);
    // The handle is forgotten whatever the module answered; the extra
    // sessions go with it, their results unexamined.
    for (CK_SESSION_HANDLE extra : DropSessions()) {
        ModuleCall(functions->C_CloseSession, extra);
    }
    return rv;
}

CK_RV TokenSlot::LogoutSession(CK_FUNCTION_LIST *functions) { return ModuleCall(functions->C_Logout, session_); }

int TokenSlot::LoginWithPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, unsigned char userKind,
                            const unsigned char *pin, CK_ULONG pinLength) {
    const bool securityOfficer = userKind != 0;
    // cryptoki's pin pointer is non-const; the module only reads it.
    CK_RV rv = ModuleCall(functions->C_Login, session_, securityOfficer ? CKU_SO : CKU_USER,
                          const_cast<CK_UTF8CHAR *>(pin), pinLength);
    switch (rv) {
    case CKR_OK:
    case CKR_USER_ALREADY_LOGGED_IN:
        return kOk;
    case CKR_PIN_LOCKED:
        return static_cast<int>(CKR_PIN_LOCKED);
    case CKR_PIN_INCORRECT:
        break;
    default:
        return kLoginRefused;
    }
    if (!securityOfficer) {
        return kLoginRefused;
    }
    // The entry's own result is not examined: byte 1 of the record decides,
    // and a record the entry leaves alone reads as no attempts left.
    PinStatus status{};
    if (aux->GetPinStatus != nullptr) {
        aux->GetPinStatus(slotId_, &status);
    }
    return status.soTriesLeft != 0 ? status.soTriesLeft : static_cast<int>(CKR_PIN_LOCKED);
}

}  // namespace kavro
