// TokenSlot: what the library remembers about one PKCS #11 slot between
// calls (its id, its one session, whether a token answered, the serial
// text), and the operations that run PKCS #11 sequences on it. Every
// operation takes the module's function list first; the operations are
// defined in one source file per area. A caller holds the slot's lock for
// every operation and for every read or write of its fields.
#ifndef KAVRO_TOKEN_TOKEN_SLOT_H
#define KAVRO_TOKEN_TOKEN_SLOT_H

#include "kavro/cryptoki.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kavro {

// CK_TOKEN_INFO's serial number and C_InitToken's label, in octets; the
// serial as text, with room for its terminator.
constexpr std::size_t kTokenSerialSize = 16;
constexpr std::size_t kTokenLabelSize = 32;
constexpr std::size_t kSerialBufferSize = 20;

// A token's serial as text: the 16 octets as the token gives them, zero
// bytes after them, or "1004" when it cannot be read. Owned by the call
// that read it.
struct TokenSerial {
    char text[kSerialBufferSize] = {};
    // Up to the first zero byte, at most 16 octets.
    std::size_t Length() const;
};

class TokenSlot {
public:
    explicit TokenSlot(CK_SLOT_ID id) : slotId(id) {}
    TokenSlot(const TokenSlot &) = delete;
    TokenSlot &operator=(const TokenSlot &) = delete;
    virtual ~TokenSlot() = default;

    // Sessions and login (session.cpp). OpenSession opens a read/write
    // serial session, or a read-only one on a write-protected token, and
    // keeps its whole handle, however wide; it returns the new session, or 0
    // when none was opened (the slot then keeps the session it had).
    CK_SESSION_HANDLE OpenSession(CK_FUNCTION_LIST *functions);
    CK_RV CloseSession(CK_FUNCTION_LIST *functions);
    // Drops the session handle without a module call.
    void ForgetSession() {
        session = 0;
        readOnly = false;
    }
    CK_RV LogoutSession(CK_FUNCTION_LIST *functions);
    // userKind 0 logs in the user, any other value the security officer.
    int LoginWithPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, unsigned char userKind,
                     const unsigned char *pin, CK_ULONG pinLength);

    // Certificates, keys, signing, digest and cipher (cert_listing.cpp,
    // key_lookup.cpp, sign_verify.cpp, digest_cipher.cpp). Results are CK_RV
    // values or result codes. Serial contents are a certificate's
    // CKA_SERIAL_NUMBER less its first two octets. A key handle place is
    // written only with a handle that fits 32 bits: a wider one, which Java
    // cannot carry, counts as not found.

    // Counts the token's certificates into count; with serials given, also
    // stages each one's serial content there, in the module's order. count
    // ends as the number of certificates handled before the search ended.
    CK_RV ListCertificateSerials(CK_FUNCTION_LIST *functions, std::vector<std::vector<unsigned char>> *serials,
                                 CK_ULONG &count);

    CK_RV FindPrivateKeyByOrdinal(CK_FUNCTION_LIST *functions, CK_OBJECT_HANDLE &handle, std::int32_t ordinal);
    CK_RV FindPublicKeyByOrdinal(CK_FUNCTION_LIST *functions, CK_OBJECT_HANDLE &handle, std::int32_t ordinal);
    // kOk with the matching certificate's CKA_ID in id, or
    // kNoCertificateWithSerial.
    CK_RV FindCertificateId(CK_FUNCTION_LIST *functions, const unsigned char *serial, std::int32_t serialLength,
                            std::vector<unsigned char> &id);
    CK_RV FindPrivateKeyById(CK_FUNCTION_LIST *functions, const unsigned char *id, CK_ULONG idLength,
                             CK_OBJECT_HANDLE &handle);
    CK_RV FindPublicKeyById(CK_FUNCTION_LIST *functions, const unsigned char *id, CK_ULONG idLength,
                            CK_OBJECT_HANDLE &handle);
    CK_RV FindPrivateKeyByCertSerial(CK_FUNCTION_LIST *functions, const unsigned char *serial,
                                     std::int32_t serialLength, CK_OBJECT_HANDLE &handle);
    CK_RV FindPublicKeyByCertSerial(CK_FUNCTION_LIST *functions, const unsigned char *serial,
                                    std::int32_t serialLength, CK_OBJECT_HANDLE &handle);

    // signMechanism 0..3: SHA-1, MD2, MD5 with RSA PKCS #1 v1.5, raw RSA
    // PKCS #1 v1.5; kBadSignMechanism for any other selector.
    static CK_RV SignMechanism(std::int32_t selector, CK_MECHANISM_TYPE &type);
    // signatureLength: the room in signature on entry, the module's length
    // afterwards (the length needed after CKR_BUFFER_TOO_SMALL).
    CK_RV SignData(CK_FUNCTION_LIST *functions, CK_OBJECT_HANDLE key, std::int32_t selector,
                   const unsigned char *data, CK_ULONG dataLength, unsigned char *signature,
                   CK_ULONG &signatureLength);
    CK_RV VerifyData(CK_FUNCTION_LIST *functions, CK_OBJECT_HANDLE key, std::int32_t selector,
                     const unsigned char *data, CK_ULONG dataLength, const unsigned char *signature,
                     CK_ULONG signatureLength);
    // The key is looked up first, so 1006 and 1007 come before 1008.
    CK_RV SignWithCertKey(CK_FUNCTION_LIST *functions, const unsigned char *serial, std::int32_t serialLength,
                          std::int32_t selector, const unsigned char *data, CK_ULONG dataLength,
                          unsigned char *signature, CK_ULONG &signatureLength);
    CK_RV VerifyWithCertKey(CK_FUNCTION_LIST *functions, const unsigned char *serial, std::int32_t serialLength,
                            std::int32_t selector, const unsigned char *data, CK_ULONG dataLength,
                            const unsigned char *signature, CK_ULONG signatureLength);

    // hashType 0 SHA-1, 1 MD2, 2 MD5; kBadArgument for any other. The
    // output lengths behave as signatureLength above.
    CK_RV DigestData(CK_FUNCTION_LIST *functions, std::int32_t hashType, const unsigned char *data,
                     CK_ULONG dataLength, unsigned char *digest, CK_ULONG &digestLength);
    // RSA PKCS #1 v1.5 with the given key.
    CK_RV EncryptData(CK_FUNCTION_LIST *functions, CK_OBJECT_HANDLE key, const unsigned char *input,
                      CK_ULONG inputLength, unsigned char *output, CK_ULONG &outputLength);
    CK_RV DecryptData(CK_FUNCTION_LIST *functions, CK_OBJECT_HANDLE key, const unsigned char *input,
                      CK_ULONG inputLength, unsigned char *output, CK_ULONG &outputLength);

    // Token information (token_info.cpp). Reads the serial afresh into
    // serialNumber and returns a copy: the 16 bytes as the token gives them,
    // or "1004" when C_GetTokenInfo fails.
    TokenSerial ReadTokenSerial(CK_FUNCTION_LIST *functions);

    // PIN administration (pin_admin.cpp). Each returns a login result of
    // LoginWithPin, or the CK_RV of the call that changes the token.
    int SetSoPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *oldPin,
                 CK_ULONG oldPinLength, const unsigned char *newPin, CK_ULONG newPinLength);
    int UnlockUserPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *soPin,
                      CK_ULONG soPinLength, const unsigned char *newUserPin, CK_ULONG newUserPinLength);
    int SetUserPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *oldPin,
                   CK_ULONG oldPinLength, const unsigned char *newPin, CK_ULONG newPinLength);
    // label: at most kTokenLabelSize octets, sent blank-padded to that size;
    // a longer label is refused with kBadArgument before any module call.
    int InitToken(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, const unsigned char *soPin,
                  CK_ULONG soPinLength, const unsigned char *userPin, CK_ULONG userPinLength, const char *label,
                  std::size_t labelLength);

    CK_SLOT_ID slotId;
    CK_SESSION_HANDLE session = 0;  // 0: no session
    bool readOnly = false;          // session is read-only: the token is write-protected
    unsigned char tokenPresent = 0;  // written by discovery only
    char serialNumber[kSerialBufferSize] = {};
    // Serialises the slot's operations: its one session never runs two at once.
    std::mutex lock;
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_TOKEN_SLOT_H
