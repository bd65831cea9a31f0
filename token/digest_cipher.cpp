// Single-part digest, encryption and decryption on the token.
#include "kavro/result_code.h"
#include "token/module_call.h"
#include "token/module_output.h"
#include "token/token_slot.h"

namespace kavro {
namespace {

// Starts an operation with its Init call, then runs the single-part call
// with the output length as in/out room. The input is only read; cryptoki's
// pointer is non-const. A CKR_BUFFER_TOO_SMALL leaves the operation active,
// as PKCS #11 has it.
template <typename Init, typename Run>
CK_RV RunSinglePart(LeasedSession &session, Init init, Run run, const unsigned char *input, CK_ULONG inputLength,
                    unsigned char *output, CK_ULONG &outputLength) {
    CK_RV rv = init();
    if (rv != CKR_OK) {
        return rv;
    }
    const CK_ULONG capacity = outputLength;
    rv = run(const_cast<unsigned char *>(input), inputLength, output, &outputLength);
    return CheckedOutput(session, rv, capacity, outputLength);
}

}  // namespace

CK_RV TokenSlot::DigestData(CK_FUNCTION_LIST *functions, LeasedSession &session, std::int32_t hashType,
                            const unsigned char *data, CK_ULONG dataLength, unsigned char *digest,
                            CK_ULONG &digestLength) {
    CK_MECHANISM mechanism{0, nullptr, 0};
    switch (hashType) {
    case 0:
        mechanism.mechanism = CKM_SHA_1;
        break;
    case 1:
        mechanism.mechanism = CKM_MD2;
        break;
    case 2:
        mechanism.mechanism = CKM_MD5;
        break;
    default:
        return kBadArgument;
    }
    return RunSinglePart(session, [&] { return ModuleCall(functions->C_DigestInit, session.handle, &mechanism); },
                         [&](CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
                             return ModuleCall(functions->C_Digest, session.handle, in, inLength, out, outLength);
                         },
                         data, dataLength, digest, digestLength);
}

CK_RV TokenSlot::EncryptData(CK_FUNCTION_LIST *functions, LeasedSession &session, CK_OBJECT_HANDLE key,
                             const unsigned char *input, CK_ULONG inputLength, unsigned char *output,
                             CK_ULONG &outputLength) {
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    return RunSinglePart(session, [&] { return ModuleCall(functions->C_EncryptInit, session.handle, &mechanism, key); },
                         [&](CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
                             return ModuleCall(functions->C_Encrypt, session.handle, in, inLength, out, outLength);
                         },
                         input, inputLength, output, outputLength);
}

CK_RV TokenSlot::DecryptData(CK_FUNCTION_LIST *functions, LeasedSession &session, CK_OBJECT_HANDLE key,
                             const unsigned char *input, CK_ULONG inputLength, unsigned char *output,
                             CK_ULONG &outputLength) {
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    return RunSinglePart(session, [&] { return ModuleCall(functions->C_DecryptInit, session.handle, &mechanism, key); },
                         [&](CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
                             return ModuleCall(functions->C_Decrypt, session.handle, in, inLength, out, outLength);
                         },
                         input, inputLength, output, outputLength);
}

}  // namespace kavro
