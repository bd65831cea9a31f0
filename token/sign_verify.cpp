// Signing and verification on the token with one of four RSA mechanisms, by
// key handle or through the certificate with a given serial content.
#include "kavro/result_code.h"
#include "token/module_call.h"
#include "token/module_output.h"
#include "token/token_slot.h"

namespace kavro {

CK_RV TokenSlot::SignMechanism(std::int32_t selector, CK_MECHANISM_TYPE &type) {
    switch (selector) {
    case 0:
        type = CKM_SHA1_RSA_PKCS;
        return kOk;
    case 1:
        type = CKM_MD2_RSA_PKCS;
        return kOk;
    case 2:
        type = CKM_MD5_RSA_PKCS;
        return kOk;
    case 3:
        type = CKM_RSA_PKCS;
        return kOk;
    default:
        return kBadSignMechanism;
    }
}

CK_RV TokenSlot::SignData(CK_FUNCTION_LIST *functions, LeasedSession &session, CK_OBJECT_HANDLE key,
                          std::int32_t selector, const unsigned char *data, CK_ULONG dataLength,
                          unsigned char *signature, CK_ULONG &signatureLength) {
    CK_MECHANISM mechanism{0, nullptr, 0};
    if (SignMechanism(selector, mechanism.mechanism) != kOk) {
        return kBadSignMechanism;
    }
    CK_RV rv = ModuleCall(functions->C_SignInit, session.handle, &mechanism, key);
    if (rv != CKR_OK) {
        return rv;
    }
    // The data is only read; cryptoki's pointer is non-const. A
    // CKR_BUFFER_TOO_SMALL leaves the operation active, as PKCS #11 has it.
    const CK_ULONG capacity = signatureLength;
    rv = ModuleCall(functions->C_Sign, session.handle, const_cast<unsigned char *>(data), dataLength, signature,
                    &signatureLength);
    return CheckedOutput(session, rv, capacity, signatureLength);
}

CK_RV TokenSlot::VerifyData(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                            std::int32_t selector, const unsigned char *data, CK_ULONG dataLength,
                            const unsigned char *signature, CK_ULONG signatureLength) {
    CK_MECHANISM mechanism{0, nullptr, 0};
    if (SignMechanism(selector, mechanism.mechanism) != kOk) {
        return kBadSignMechanism;
    }
    CK_RV rv = ModuleCall(functions->C_VerifyInit, session, &mechanism, key);
    if (rv != CKR_OK) {
        return rv;
    }
    return ModuleCall(functions->C_Verify, session, const_cast<unsigned char *>(data), dataLength,
                      const_cast<unsigned char *>(signature), signatureLength);
}

CK_RV TokenSlot::SignWithCertKey(CK_FUNCTION_LIST *functions, LeasedSession &session, const unsigned char *serial,
                                 std::int32_t serialLength, std::int32_t selector, const unsigned char *data,
                                 CK_ULONG dataLength, unsigned char *signature, CK_ULONG &signatureLength) {
    CK_OBJECT_HANDLE key = 0;
    CK_RV rv = FindPrivateKeyByCertSerial(functions, session.handle, serial, serialLength, key);
    if (rv != kOk) {
        return rv;
    }
    return SignData(functions, session, key, selector, data, dataLength, signature, signatureLength);
}

CK_RV TokenSlot::VerifyWithCertKey(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                   const unsigned char *serial, std::int32_t serialLength, std::int32_t selector,
                                   const unsigned char *data, CK_ULONG dataLength, const unsigned char *signature,
                                   CK_ULONG signatureLength) {
    CK_OBJECT_HANDLE key = 0;
    CK_RV rv = FindPublicKeyByCertSerial(functions, session, serial, serialLength, key);
    if (rv != kOk) {
        return rv;
    }
    return VerifyData(functions, session, key, selector, data, dataLength, signature, signatureLength);
}

}  // namespace kavro
