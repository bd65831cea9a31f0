// TokenSlot: what the library remembers about one PKCS #11 slot between
// calls (its id, its own session, the extra sessions that calls meeting on
// the slot opened), who may use them, and the operations that run PKCS #11
// sequences on it. Every operation takes the module's function list first;
// the operations are defined in one source file per area. Calls reach a
// slot through a SlotLease, which takes the slot alone, or one of its
// sessions beside other calls, and gives them back.
#ifndef KAVRO_TOKEN_TOKEN_SLOT_H
#define KAVRO_TOKEN_TOKEN_SLOT_H

#include "kavro/cryptoki.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
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

// A certificate object's attributes as the token holds them: its DER value
// (CKA_VALUE), CKA_LABEL, CKA_ID, and its serial content (CKA_SERIAL_NUMBER
// less its first two octets, as the key lookups compare it). A missing
// label, id or serial is empty.
struct CertificateObject {
    std::vector<unsigned char> value;
    std::vector<unsigned char> label;
    std::vector<unsigned char> id;
    std::vector<unsigned char> serial;
};

// Sessions a slot may have open at once when calls meet on it: the
// environment's KAVRO_SESSIONS_PER_SLOT (1 to 64), 4 without it. 1 keeps
// every slot to its own session.
unsigned SessionsPerSlot();

// The session a call was handed, and what the call left in it.
struct LeasedSession {
    enum class Source { kNone, kOwn, kExtra };
    CK_SESSION_HANDLE handle = 0;
    Source source = Source::kNone;
    bool fast = false;  // taken without the slot's mutex
    // A single-part operation answered CKR_BUFFER_TOO_SMALL and, as PKCS #11
    // has it, stays active in the session.
    bool operationLeftActive = false;
};

class TokenSlot {
public:
    explicit TokenSlot(CK_SLOT_ID id) : slotId_(id) {}
    TokenSlot(const TokenSlot &) = delete;
    TokenSlot &operator=(const TokenSlot &) = delete;
    virtual ~TokenSlot() = default;

    CK_SLOT_ID SlotId() const { return slotId_; }

    // Who uses the slot (slot_sessions.cpp). Alone: no other call runs on
    // the slot meanwhile; calls that change the login state or the slot's
    // own session, and discovery, take the slot so. Shared: the call gets a
    // session of its own for its length, beside other shared calls: the
    // slot's own session when it is free, else an idle extra session, else
    // a new extra session when fewer than SessionsPerSlot() are open (and
    // no more than the token's limit; a slot of a module called one call at
    // a time keeps to its own session, as further ones would only queue for
    // the module; none is opened when the slot has no session), else it
    // waits. A
    // session left with an operation active is not handed to another
    // thread: the own session goes back to the thread that left it (which
    // sees what a single caller always saw), an extra one is closed. Token
    // information: beside shared calls, without a session.
    void BeginAlone();
    void EndAlone();
    void BeginShared(CK_FUNCTION_LIST *functions, bool oneCallAtATime, LeasedSession &leased);
    void EndShared(CK_FUNCTION_LIST *functions, LeasedSession &leased);
    void BeginTokenInfo(LeasedSession &leased);
    void EndTokenInfo(LeasedSession &leased);

    // Taken alone: drops every session handle without a module call, for a
    // token or module that ended them itself.
    void ForgetSessions();
    // The token's own limit on sessions, from discovery's C_GetTokenInfo: 0
    // when it reports none.
    void SetMaxSessions(CK_ULONG maxSessionCount);

    // Sessions and login (session.cpp), taken alone. OpenSession opens a
    // read/write serial session, or a read-only one on a write-protected
    // token, and keeps its whole handle, however wide, as the slot's own
    // session; it returns the new session, or 0 when none was opened (the
    // slot then keeps the session it had). CloseSession closes the own
    // session and the extra ones, and answers for the own one.
    CK_SESSION_HANDLE OpenSession(CK_FUNCTION_LIST *functions);
    CK_RV CloseSession(CK_FUNCTION_LIST *functions);
    CK_RV LogoutSession(CK_FUNCTION_LIST *functions);
    // userKind 0 logs in the user, any other value the security officer.
    int LoginWithPin(CK_FUNCTION_LIST *functions, AuxFunctionList *aux, unsigned char userKind,
                     const unsigned char *pin, CK_ULONG pinLength);

    // Certificates, keys, signing, digest and cipher in a given session
    // (cert_listing.cpp, key_lookup.cpp, sign_verify.cpp, digest_cipher.cpp);
    // they keep no state of the slot's. Results are CK_RV values or result
    // codes. Serial contents are a certificate's CKA_SERIAL_NUMBER less its
    // first two octets. A key handle place is written only with a handle
    // that fits 32 bits: a wider one, which Java cannot carry, counts as not
    // found.

    // Counts the token's certificates into count; with serials given, also
    // stages each one's serial content there, in the module's order. count
    // ends as the number of certificates handled before the search ended.
    static CK_RV ListCertificateSerials(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                        std::vector<std::vector<unsigned char>> *serials, CK_ULONG &count);

    static CK_RV FindPrivateKeyByOrdinal(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                         CK_OBJECT_HANDLE &handle, std::int32_t ordinal);
    static CK_RV FindPublicKeyByOrdinal(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                        CK_OBJECT_HANDLE &handle, std::int32_t ordinal);
    // The ordinal-th certificate (from 1) in the module's order: kOk, or
    // kNoSuchObject for an ordinal below 1 (no search is started) or past the
    // last; a value that cannot be read gives the module's CK_RV.
    static CK_RV ReadCertificate(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, std::int32_t ordinal,
                                 CertificateObject &certificate);
    // kOk with the matching certificate's CKA_ID in id, or
    // kNoCertificateWithSerial.
    static CK_RV FindCertificateId(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                   const unsigned char *serial, std::int32_t serialLength,
                                   std::vector<unsigned char> &id);
    static CK_RV FindPrivateKeyById(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const unsigned char *id,
                                    CK_ULONG idLength, CK_OBJECT_HANDLE &handle);
    static CK_RV FindPublicKeyById(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const unsigned char *id,
                                   CK_ULONG idLength, CK_OBJECT_HANDLE &handle);
    static CK_RV FindPrivateKeyByCertSerial(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                            const unsigned char *serial, std::int32_t serialLength,
                                            CK_OBJECT_HANDLE &handle);
    static CK_RV FindPublicKeyByCertSerial(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                           const unsigned char *serial, std::int32_t serialLength,
                                           CK_OBJECT_HANDLE &handle);

    // signMechanism 0..3: SHA-1, MD2, MD5 with RSA PKCS #1 v1.5, raw RSA
    // PKCS #1 v1.5; kBadSignMechanism for any other selector.
    static CK_RV SignMechanism(std::int32_t selector, CK_MECHANISM_TYPE &type);
    // signatureLength: the room in signature on entry, the module's length
    // afterwards (the length needed after CKR_BUFFER_TOO_SMALL).
    static CK_RV SignData(CK_FUNCTION_LIST *functions, LeasedSession &session, CK_OBJECT_HANDLE key,
                          std::int32_t selector, const unsigned char *data, CK_ULONG dataLength,
                          unsigned char *signature, CK_ULONG &signatureLength);
    static CK_RV VerifyData(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                            std::int32_t selector, const unsigned char *data, CK_ULONG dataLength,
                            const unsigned char *signature, CK_ULONG signatureLength);
    // The key is looked up first, so 1006 and 1007 come before 1008.
    static CK_RV SignWithCertKey(CK_FUNCTION_LIST *functions, LeasedSession &session, const unsigned char *serial,
                                 std::int32_t serialLength, std::int32_t selector, const unsigned char *data,
                                 CK_ULONG dataLength, unsigned char *signature, CK_ULONG &signatureLength);
    static CK_RV VerifyWithCertKey(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                   const unsigned char *serial, std::int32_t serialLength, std::int32_t selector,
                                   const unsigned char *data, CK_ULONG dataLength, const unsigned char *signature,
                                   CK_ULONG signatureLength);

    // hashType 0 SHA-1, 1 MD2, 2 MD5; kBadArgument for any other. The
    // output lengths behave as signatureLength above.
    static CK_RV DigestData(CK_FUNCTION_LIST *functions, LeasedSession &session, std::int32_t hashType,
                            const unsigned char *data, CK_ULONG dataLength, unsigned char *digest,
                            CK_ULONG &digestLength);
    // RSA PKCS #1 v1.5 with the given key.
    static CK_RV EncryptData(CK_FUNCTION_LIST *functions, LeasedSession &session, CK_OBJECT_HANDLE key,
                             const unsigned char *input, CK_ULONG inputLength, unsigned char *output,
                             CK_ULONG &outputLength);
    static CK_RV DecryptData(CK_FUNCTION_LIST *functions, LeasedSession &session, CK_OBJECT_HANDLE key,
                             const unsigned char *input, CK_ULONG inputLength, unsigned char *output,
                             CK_ULONG &outputLength);

    // Token information (token_info.cpp): the serial, read afresh: the 16
    // bytes as the token gives them, or "1004" when C_GetTokenInfo fails.
    TokenSerial ReadTokenSerial(CK_FUNCTION_LIST *functions) const;

    // PIN administration (pin_admin.cpp), taken alone. Each returns a login
    // result of LoginWithPin, or the CK_RV of the call that changes the
    // token.
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

private:
    // The slot's sessions, as seen under mutex_ (slot_sessions.cpp).
    bool Quiet() const;
    bool OwnFree() const;
    void LeaveSlowModeIfQuiet();
    // Taken alone: the extra sessions leave the slot, their handles handed
    // back for closing or forgetting; the own session counts as clean again.
    std::vector<CK_SESSION_HANDLE> TakeExtraSessions();
    // Taken alone, for a new own session: clean, and extra sessions may be
    // opened again. ClearSessionMarks is the same under mutex_.
    void ResetSessionMarks();
    void ClearSessionMarks();
    // Taken alone: the slot has no session any more; the extra ones are
    // handed back for closing or forgetting.
    std::vector<CK_SESSION_HANDLE> DropSessions();

    const CK_SLOT_ID slotId_;

    // Written only while the slot is taken alone; read by shared calls.
    CK_SESSION_HANDLE session_ = 0;  // the slot's own session; 0: none
    bool readOnly_ = false;          // session_ is read-only: the token is write-protected
    CK_ULONG maxSessions_ = 0;       // the token's limit; 0: none reported

    // The common case runs on state_ alone: the own session taken and given
    // back, token information read, with one atomic operation each. Any
    // other case sets kSlow, and mutex_ with the fields below decides.
    static constexpr std::uint32_t kOwnTaken = 1;
    static constexpr std::uint32_t kSlow = 2;
    static constexpr std::uint32_t kOneReader = 4;
    std::atomic<std::uint32_t> state_{0};

    std::mutex mutex_;
    std::condition_variable changed_;
    bool alone_ = false;             // taken alone
    unsigned aloneWaiting_ = 0;      // calls waiting to take it alone: shared calls let them go first
    unsigned sharedWaiting_ = 0;     // shared calls waiting for a session
    bool ownBusy_ = false;           // own session taken in slow mode
    unsigned readers_ = 0;           // token-information calls begun in slow mode
    unsigned extrasBusy_ = 0;        // extra sessions in use
    unsigned opening_ = 0;           // extra sessions being opened
    bool openRefused_ = false;       // an open failed: no more extra sessions until the next connect
    std::vector<CK_SESSION_HANDLE> idleExtras_;
    // The thread whose call left an operation active in the own session;
    // the session stays its own until the slot's session is replaced.
    std::thread::id operationLeftBy_;
};

}  // namespace kavro

#endif  // KAVRO_TOKEN_TOKEN_SLOT_H
