// The PKCS #11 functions of the mock module. Each call is journalled, then
// answers a scripted result if one is due, else behaves like a small token.
// Signatures, digests and ciphertexts are deterministic stand-ins: the mock
// checks call sequences and buffer handling, not cryptography.
#include "mock_state.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <tuple>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sstream>

namespace mock {
namespace {

#define JOURNAL(...)                                              \
    do {                                                          \
        if (Journalling()) {                                      \
            std::ostringstream line_;                             \
            line_ << __VA_ARGS__;                                 \
            Note(line_.str());                                    \
        }                                                         \
    } while (0)

#define SCRIPTED(name)                                            \
    do {                                                          \
        if (auto scripted_ = Scripted(name)) return *scripted_;   \
    } while (0)

CK_RV CheckReady() { return Mock().initialised ? CKR_OK : CKR_CRYPTOKI_NOT_INITIALIZED; }

MockSession *SessionFor(CK_SESSION_HANDLE handle, CK_RV &rv) {
    rv = CheckReady();
    if (rv != CKR_OK) return nullptr;
    MockSession *session = FindSession(handle);
    if (session == nullptr) {
        rv = CKR_SESSION_HANDLE_INVALID;
        return nullptr;
    }
    MockSlot *slot = FindSlot(session->slot);
    if (slot == nullptr || !slot->token.present) {
        rv = CKR_DEVICE_REMOVED;
        return nullptr;
    }
    return session;
}

MockToken &TokenOf(const MockSession &session) { return FindSlot(session.slot)->token; }

bool Matches(const MockObject &object, CK_ATTRIBUTE *templ, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        auto found = object.attributes.find(templ[i].type);
        if (found == object.attributes.end()) return false;
        const Bytes &value = found->second;
        if (value.size() != templ[i].ulValueLen) return false;
        if (!value.empty() && std::memcmp(value.data(), templ[i].pValue, value.size()) != 0) return false;
    }
    return true;
}

bool IsPrivate(const MockObject &object) {
    auto flag = object.attributes.find(CKA_PRIVATE);
    return flag != object.attributes.end() && !flag->second.empty() && flag->second[0] != 0;
}

std::string TemplateText(CK_ATTRIBUTE *templ, CK_ULONG count) {
    std::ostringstream text;
    for (CK_ULONG i = 0; i < count; ++i) {
        text << (i ? "," : "") << "0x" << std::hex << templ[i].type << "=";
        if (templ[i].pValue != nullptr) {
            text << Hex(static_cast<unsigned char *>(templ[i].pValue), templ[i].ulValueLen);
        }
    }
    return text.str();
}

// A deterministic stand-in for a keyed transform of data.
Bytes Stream(const Bytes &key, CK_MECHANISM_TYPE mechanism, const unsigned char *data, CK_ULONG length,
             size_t size) {
    unsigned long long h = 1469598103934665603ull ^ mechanism;
    for (unsigned char b : key) h = (h ^ b) * 1099511628211ull;
    for (CK_ULONG i = 0; i < length; ++i) h = (h ^ data[i]) * 1099511628211ull;
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        h = (h ^ i) * 1099511628211ull;
        out[i] = static_cast<unsigned char>(h >> 29);
    }
    return out;
}

Bytes KeyIdOf(CK_OBJECT_HANDLE key) {
    auto found = Mock().objects.find(key);
    if (found == Mock().objects.end()) return {};
    auto id = found->second.attributes.find(CKA_ID);
    Bytes material = id != found->second.attributes.end() ? id->second : Bytes{};
    return material;
}

// Produces output into a caller's buffer with the PKCS #11 length rules:
// null buffer asks for the length, a short buffer gets CKR_BUFFER_TOO_SMALL
// and keeps the operation active, success ends it.
CK_RV Deliver(const Bytes &result, CK_BYTE_PTR out, CK_ULONG_PTR outLength, Operation &operation) {
    if (outLength == nullptr) return CKR_ARGUMENTS_BAD;
    if (out == nullptr) {
        *outLength = result.size();
        return CKR_OK;
    }
    if (*outLength < result.size()) {
        *outLength = result.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    CK_ULONG capacity = *outLength;
    std::memcpy(out, result.data(), result.size());
    *outLength = result.size();
    // A faulty module may report more than it was given room for.
    long long over = Knob("output.overlength", 0);
    if (over > 0) *outLength = capacity + static_cast<CK_ULONG>(over);
    operation.active = false;
    return CKR_OK;
}

CK_RV StartOperation(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key,
                     Operation MockSession::*which, bool needsKey) {
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
    Operation &operation = session->*which;
    if (TokenOf(*session).login == Login::kSecurityOfficer) ++TokenOf(*session).soSeen;
    if (operation.active) return CKR_OPERATION_ACTIVE;
    if (needsKey) {
        auto object = Mock().objects.find(key);
        if (object == Mock().objects.end() || object->second.slot != session->slot) return CKR_KEY_HANDLE_INVALID;
        if (IsPrivate(object->second) && TokenOf(*session).login != Login::kUser) return CKR_USER_NOT_LOGGED_IN;
    }
    operation.active = true;
    operation.mechanism = mechanism->mechanism;
    operation.key = key;
    return CKR_OK;
}

size_t DigestSize(CK_MECHANISM_TYPE mechanism) { return mechanism == CKM_SHA_1 ? 20 : 16; }

bool SignMechanismKnown(CK_MECHANISM_TYPE mechanism) {
    return mechanism == CKM_SHA1_RSA_PKCS || mechanism == CKM_MD2_RSA_PKCS || mechanism == CKM_MD5_RSA_PKCS ||
           mechanism == CKM_RSA_PKCS;
}

// --- general ---

CK_RV MockInitialize(void *args) {
    if (args == nullptr) {
        JOURNAL("C_Initialize args=null");
    } else {
        const auto *threads = static_cast<CK_C_INITIALIZE_ARGS *>(args);
        JOURNAL("C_Initialize flags=0x" << std::hex << threads->flags << std::dec
                                        << (threads->CreateMutex != nullptr ? " mutexes" : ""));
    }
    SCRIPTED("C_Initialize");
    if (Mock().initialised) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    Mock().initialised = true;
    return CKR_OK;
}

CK_RV MockFinalize(void *) {
    JOURNAL("C_Finalize");
    SCRIPTED("C_Finalize");
    if (!Mock().initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    Mock().initialised = false;
    return CKR_OK;
}

CK_RV MockGetInfo(CK_INFO_PTR info) {
    JOURNAL("C_GetInfo");
    SCRIPTED("C_GetInfo");
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion.major = 2;
    info->cryptokiVersion.minor = 40;
    FillBlank(info->manufacturerID, sizeof info->manufacturerID, "kavro tests");
    FillBlank(info->libraryDescription, sizeof info->libraryDescription, "mock module");
    return CKR_OK;
}

CK_RV MockGetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

CK_RV MockGetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    JOURNAL("C_GetSlotList tokenPresent=" << int(tokenPresent) << " list=" << (list ? "set" : "null")
                                          << " count=" << (count ? *count : 0));
    SCRIPTED("C_GetSlotList");
    CK_RV rv = CheckReady();
    if (rv != CKR_OK) return rv;
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> ids;
    for (const MockSlot &slot : Mock().slots) {
        if (!tokenPresent || slot.token.present) ids.push_back(slot.id);
    }
    if (list == nullptr) {
        *count = static_cast<CK_ULONG>(Knob("slotlist.querycount", static_cast<long long>(ids.size())));
        // Slots plugged in between the size query and the fetch.
        for (long long grow = Knob("slotlist.growafterquery", 0); grow > 0; --grow) {
            MockSlot slot;
            slot.id = 0x7000 + Mock().slots.size();
            FillBlank(slot.token.serial, 16, "GROWN" + std::to_string(slot.id));
            FillBlank(slot.token.label, 32, "grown");
            AddSlot(slot);
        }
        Mock().knobs.erase("slotlist.growafterquery");
        // A module that answers its size query with an error, having written the count all the same.
        return static_cast<CK_RV>(Knob("slotlist.queryrv", CKR_OK));
    }
    long long reported = Knob("slotlist.fetchcount", -1);
    if (reported >= 0) {
        // A careless module: writes what fits and reports another count.
        CK_ULONG room = *count;
        for (CK_ULONG i = 0; i < room && i < ids.size(); ++i) list[i] = ids[i];
        *count = static_cast<CK_ULONG>(reported);
        return CKR_OK;
    }
    if (*count < ids.size()) {
        *count = ids.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(ids.begin(), ids.end(), list);
    *count = ids.size();
    return CKR_OK;
}

CK_RV MockGetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO_PTR info) {
    JOURNAL("C_GetSlotInfo slot=" << id);
    SCRIPTED("C_GetSlotInfo");
    CK_RV rv = CheckReady();
    if (rv != CKR_OK) return rv;
    MockSlot *slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    FillBlank(info->slotDescription, sizeof info->slotDescription, "mock slot");
    FillBlank(info->manufacturerID, sizeof info->manufacturerID, "kavro tests");
    info->flags = CKF_REMOVABLE_DEVICE | (slot->token.present ? CKF_TOKEN_PRESENT : 0);
    return CKR_OK;
}

CK_RV MockGetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info) {
    JOURNAL("C_GetTokenInfo slot=" << id);
    SCRIPTED("C_GetTokenInfo");
    CK_RV rv = CheckReady();
    if (rv != CKR_OK) return rv;
    MockSlot *slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->token.present) return CKR_TOKEN_NOT_PRESENT;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->label, slot->token.label, 32);
    FillBlank(info->manufacturerID, sizeof info->manufacturerID, "kavro tests");
    FillBlank(info->model, sizeof info->model, "mock");
    std::memcpy(info->serialNumber, slot->token.serial, 16);
    info->flags = CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    // The SO PIN's state, as tokens that count attempts show it.
    if (slot->token.soTriesLeft <= 0) {
        info->flags |= CKF_SO_PIN_LOCKED;
    } else if (slot->token.soTriesLeft == 1) {
        info->flags |= CKF_SO_PIN_FINAL_TRY;
    }
    info->ulMaxPinLen = 255;
    info->ulMinPinLen = 0;
    return CKR_OK;
}

CK_RV MockInitToken(CK_SLOT_ID id, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength, CK_UTF8CHAR_PTR label) {
    JOURNAL("C_InitToken slot=" << id << " pin=" << Hex(pin, pin ? pinLength : 0)
                                << " label=" << Hex(label, label ? 32 : 0));
    SCRIPTED("C_InitToken");
    CK_RV rv = CheckReady();
    if (rv != CKR_OK) return rv;
    MockSlot *slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->token.present) return CKR_TOKEN_NOT_PRESENT;
    for (const auto &entry : Mock().sessions) {
        if (entry.second.slot == id) return CKR_SESSION_EXISTS;
    }
    Bytes given(pin, pin + (pin ? pinLength : 0));
    if (given != slot->token.soPin) return CKR_PIN_INCORRECT;
    std::memcpy(slot->token.label, label, 32);
    slot->token.userPin.clear();
    for (auto object = Mock().objects.begin(); object != Mock().objects.end();) {
        object = object->second.slot == id ? Mock().objects.erase(object) : std::next(object);
    }
    return CKR_OK;
}

CK_RV MockInitPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength) {
    JOURNAL("C_InitPIN session=" << handle << " pin=" << Hex(pin, pin ? pinLength : 0));
    SCRIPTED("C_InitPIN");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    MockToken &token = TokenOf(*session);
    if (token.login != Login::kSecurityOfficer) return CKR_USER_NOT_LOGGED_IN;
    token.userPin.assign(pin, pin + (pin ? pinLength : 0));
    token.userTriesLeft = token.maxTries;
    return CKR_OK;
}

CK_RV MockSetPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
                 CK_ULONG newLength) {
    JOURNAL("C_SetPIN session=" << handle << " old=" << Hex(oldPin, oldPin ? oldLength : 0)
                                << " new=" << Hex(newPin, newPin ? newLength : 0));
    SCRIPTED("C_SetPIN");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!(session->flags & CKF_RW_SESSION)) return CKR_SESSION_READ_ONLY;
    MockToken &token = TokenOf(*session);
    Bytes old(oldPin, oldPin + (oldPin ? oldLength : 0));
    Bytes &current = token.login == Login::kSecurityOfficer ? token.soPin : token.userPin;
    if (token.login == Login::kNone) return CKR_USER_NOT_LOGGED_IN;
    if (old != current) return CKR_PIN_INCORRECT;
    current.assign(newPin, newPin + (newPin ? newLength : 0));
    return CKR_OK;
}

// --- sessions ---

CK_RV MockOpenSession(CK_SLOT_ID id, CK_FLAGS flags, void *application, CK_NOTIFY notify,
                      CK_SESSION_HANDLE_PTR handle) {
    JOURNAL("C_OpenSession slot=" << id << " flags=" << flags << " application=" << (application ? "set" : "null")
                                  << " notify=" << (notify ? "set" : "null"));
    SCRIPTED("C_OpenSession");
    CK_RV rv = CheckReady();
    if (rv != CKR_OK) return rv;
    MockSlot *slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->token.present) return CKR_TOKEN_NOT_PRESENT;
    if (!(flags & CKF_SERIAL_SESSION)) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (handle == nullptr) return CKR_ARGUMENTS_BAD;
    if ((flags & CKF_RW_SESSION) && slot->token.writeProtected) return CKR_TOKEN_WRITE_PROTECTED;
    MockSession session;
    // The knob session.handle forces the next handle, for handles wider than Java's ints.
    long long forced = Knob("session.handle", 0);
    session.handle = forced != 0 ? static_cast<CK_SESSION_HANDLE>(forced) : Mock().nextSession++;
    Mock().knobs.erase("session.handle");
    session.slot = id;
    session.flags = flags;
    Mock().sessions[session.handle] = session;
    *handle = session.handle;
    return CKR_OK;
}

void ForgetLoginIfLastSession(CK_SLOT_ID id) {
    for (const auto &entry : Mock().sessions) {
        if (entry.second.slot == id) return;
    }
    if (MockSlot *slot = FindSlot(id)) slot->token.login = Login::kNone;
}

CK_RV MockCloseSession(CK_SESSION_HANDLE handle) {
    JOURNAL("C_CloseSession session=" << handle);
    SCRIPTED("C_CloseSession");
    CK_RV rv = CheckReady();
    if (rv != CKR_OK) return rv;
    auto found = Mock().sessions.find(handle);
    if (found == Mock().sessions.end()) return CKR_SESSION_HANDLE_INVALID;
    CK_SLOT_ID id = found->second.slot;
    Mock().sessions.erase(found);
    ForgetLoginIfLastSession(id);
    return CKR_OK;
}

CK_RV MockCloseAllSessions(CK_SLOT_ID id) {
    JOURNAL("C_CloseAllSessions slot=" << id);
    SCRIPTED("C_CloseAllSessions");
    CK_RV rv = CheckReady();
    if (rv != CKR_OK) return rv;
    if (FindSlot(id) == nullptr) return CKR_SLOT_ID_INVALID;
    for (auto entry = Mock().sessions.begin(); entry != Mock().sessions.end();) {
        entry = entry->second.slot == id ? Mock().sessions.erase(entry) : std::next(entry);
    }
    ForgetLoginIfLastSession(id);
    return CKR_OK;
}

CK_RV MockGetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
    JOURNAL("C_GetSessionInfo session=" << handle);
    SCRIPTED("C_GetSessionInfo");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    info->slotID = session->slot;
    info->flags = session->flags;
    info->ulDeviceError = 0;
    Login login = TokenOf(*session).login;
    bool rw = session->flags & CKF_RW_SESSION;
    info->state = login == Login::kSecurityOfficer ? CKS_RW_SO_FUNCTIONS
                  : login == Login::kUser          ? (rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS)
                                                   : (rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION);
    return CKR_OK;
}

CK_RV MockLogin(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength) {
    JOURNAL("C_Login session=" << handle << " user=" << userType << " pin=" << Hex(pin, pin ? pinLength : 0));
    SCRIPTED("C_Login");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    MockToken &token = TokenOf(*session);
    if (userType != CKU_USER && userType != CKU_SO) return CKR_USER_TYPE_INVALID;
    Login wanted = userType == CKU_SO ? Login::kSecurityOfficer : Login::kUser;
    if (token.login == wanted) return CKR_USER_ALREADY_LOGGED_IN;
    if (token.login != Login::kNone) return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    int &tries = wanted == Login::kSecurityOfficer ? token.soTriesLeft : token.userTriesLeft;
    const Bytes &expected = wanted == Login::kSecurityOfficer ? token.soPin : token.userPin;
    if (tries <= 0) return CKR_PIN_LOCKED;
    Bytes given(pin, pin + (pin ? pinLength : 0));
    if (given != expected) {
        --tries;
        return tries <= 0 ? CKR_PIN_LOCKED : CKR_PIN_INCORRECT;
    }
    tries = token.maxTries;
    token.login = wanted;
    return CKR_OK;
}

CK_RV MockLogout(CK_SESSION_HANDLE handle) {
    JOURNAL("C_Logout session=" << handle);
    SCRIPTED("C_Logout");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    MockToken &token = TokenOf(*session);
    if (token.login == Login::kNone) return CKR_USER_NOT_LOGGED_IN;
    token.login = Login::kNone;
    return CKR_OK;
}

// --- objects ---

CK_RV MockGetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE_PTR templ,
                            CK_ULONG count) {
    JOURNAL("C_GetAttributeValue session=" << handle << " object=" << objectHandle << " count=" << count
                                           << " template=" << TemplateText(templ, count));
    SCRIPTED("C_GetAttributeValue");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    auto found = Mock().objects.find(objectHandle);
    if (found == Mock().objects.end() || found->second.slot != session->slot) return CKR_OBJECT_HANDLE_INVALID;
    MockObject &object = found->second;
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE &attribute = templ[i];
        auto value = object.attributes.find(attribute.type);
        if (value == object.attributes.end() || object.failing.count(attribute.type)) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        if (attribute.pValue == nullptr) {
            attribute.ulValueLen =
                object.unavailable.count(attribute.type) ? CK_UNAVAILABLE_INFORMATION : value->second.size();
            if (object.hugelength.count(attribute.type)) attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION - 1;
            continue;
        }
        if (attribute.ulValueLen < value->second.size()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_BUFFER_TOO_SMALL;
            continue;
        }
        CK_ULONG capacity = attribute.ulValueLen;
        std::memcpy(attribute.pValue, value->second.data(), value->second.size());
        attribute.ulValueLen = value->second.size();
        if (object.overlength.count(attribute.type)) attribute.ulValueLen = capacity + 64;
    }
    return result;
}

CK_RV MockFindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    JOURNAL("C_FindObjectsInit session=" << handle << " count=" << count
                                         << " template=" << TemplateText(templ, count));
    SCRIPTED("C_FindObjectsInit");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (session->searching) return CKR_OPERATION_ACTIVE;
    if (TokenOf(*session).login == Login::kSecurityOfficer) ++TokenOf(*session).soSeen;
    bool loggedIn = TokenOf(*session).login == Login::kUser;
    session->found.clear();
    session->next = 0;
    for (const auto &entry : Mock().objects) {
        const MockObject &object = entry.second;
        if (object.slot != session->slot) continue;
        if (IsPrivate(object) && !loggedIn) continue;
        if (Matches(object, templ, count)) session->found.push_back(object.handle);
    }
    session->searching = true;
    return CKR_OK;
}

CK_RV MockFindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount,
                      CK_ULONG_PTR count) {
    JOURNAL("C_FindObjects session=" << handle << " max=" << maxCount);
    SCRIPTED("C_FindObjects");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!session->searching) return CKR_OPERATION_NOT_INITIALIZED;
    if (count == nullptr || (objects == nullptr && maxCount > 0)) return CKR_ARGUMENTS_BAD;
    CK_ULONG n = 0;
    while (n < maxCount && session->next < session->found.size()) {
        objects[n++] = session->found[session->next++];
    }
    // A faulty module may report more objects than it had room to write.
    long long reported = Knob("findobjects.reported", -1);
    *count = reported >= 0 ? static_cast<CK_ULONG>(reported) : n;
    return CKR_OK;
}

CK_RV MockFindObjectsFinal(CK_SESSION_HANDLE handle) {
    JOURNAL("C_FindObjectsFinal session=" << handle);
    SCRIPTED("C_FindObjectsFinal");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!session->searching) return CKR_OPERATION_NOT_INITIALIZED;
    session->searching = false;
    session->found.clear();
    return CKR_OK;
}

// --- cryptographic operations ---

CK_RV MockDigestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism) {
    JOURNAL("C_DigestInit session=" << handle << " mechanism=0x" << std::hex << (mechanism ? mechanism->mechanism : 0)
                                    << std::dec << " parameterLength=" << (mechanism ? mechanism->ulParameterLen : 0));
    SCRIPTED("C_DigestInit");
    if (mechanism != nullptr && mechanism->mechanism != CKM_SHA_1 && mechanism->mechanism != CKM_MD5 &&
        mechanism->mechanism != CKM_MD2) {
        return CKR_MECHANISM_INVALID;
    }
    return StartOperation(handle, mechanism, 0, &MockSession::digest, false);
}

CK_RV MockDigest(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR digest,
                 CK_ULONG_PTR digestLength) {
    JOURNAL("C_Digest session=" << handle << " length=" << length << " capacity="
                                << (digestLength ? *digestLength : 0) << " out=" << (digest ? "set" : "null"));
    SCRIPTED("C_Digest");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!session->digest.active) return CKR_OPERATION_NOT_INITIALIZED;
    Bytes result = Stream({}, session->digest.mechanism, data, length, DigestSize(session->digest.mechanism));
    return Deliver(result, digest, digestLength, session->digest);
}

CK_RV MockSignInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    JOURNAL("C_SignInit session=" << handle << " mechanism=0x" << std::hex << (mechanism ? mechanism->mechanism : 0)
                                  << std::dec << " parameterLength=" << (mechanism ? mechanism->ulParameterLen : 0)
                                  << " key=" << key);
    SCRIPTED("C_SignInit");
    if (mechanism != nullptr && !SignMechanismKnown(mechanism->mechanism)) return CKR_MECHANISM_INVALID;
    return StartOperation(handle, mechanism, key, &MockSession::sign, true);
}

CK_RV MockSign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature,
               CK_ULONG_PTR signatureLength) {
    JOURNAL("C_Sign session=" << handle << " length=" << length << " data=" << Hex(data, data ? length : 0)
                              << " capacity=" << (signatureLength ? *signatureLength : 0));
    SCRIPTED("C_Sign");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!session->sign.active) return CKR_OPERATION_NOT_INITIALIZED;
    Bytes result = Stream(KeyIdOf(session->sign.key), session->sign.mechanism, data, length,
                          static_cast<size_t>(Knob("sign.length", 128)));
    return Deliver(result, signature, signatureLength, session->sign);
}

CK_RV MockVerifyInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    JOURNAL("C_VerifyInit session=" << handle << " mechanism=0x" << std::hex
                                    << (mechanism ? mechanism->mechanism : 0) << std::dec << " key=" << key);
    SCRIPTED("C_VerifyInit");
    if (mechanism != nullptr && !SignMechanismKnown(mechanism->mechanism)) return CKR_MECHANISM_INVALID;
    return StartOperation(handle, mechanism, key, &MockSession::verify, true);
}

CK_RV MockVerify(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature,
                 CK_ULONG signatureLength) {
    JOURNAL("C_Verify session=" << handle << " length=" << length << " signatureLength=" << signatureLength);
    SCRIPTED("C_Verify");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!session->verify.active) return CKR_OPERATION_NOT_INITIALIZED;
    session->verify.active = false;
    Bytes expected = Stream(KeyIdOf(session->verify.key), session->verify.mechanism, data, length,
                            static_cast<size_t>(Knob("sign.length", 128)));
    if (signatureLength != expected.size()) return CKR_SIGNATURE_LEN_RANGE;
    return std::memcmp(expected.data(), signature, expected.size()) == 0 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

// The stand-in cipher: output[0] holds the input length, the rest is the
// input masked with a stream derived from the key pair's CKA_ID.
CK_RV MockEncryptInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    JOURNAL("C_EncryptInit session=" << handle << " mechanism=0x" << std::hex
                                     << (mechanism ? mechanism->mechanism : 0) << std::dec << " key=" << key);
    SCRIPTED("C_EncryptInit");
    if (mechanism != nullptr && mechanism->mechanism != CKM_RSA_PKCS) return CKR_MECHANISM_INVALID;
    return StartOperation(handle, mechanism, key, &MockSession::encrypt, true);
}

CK_RV MockEncrypt(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR out,
                  CK_ULONG_PTR outLength) {
    JOURNAL("C_Encrypt session=" << handle << " length=" << length
                                 << " capacity=" << (outLength ? *outLength : 0));
    SCRIPTED("C_Encrypt");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!session->encrypt.active) return CKR_OPERATION_NOT_INITIALIZED;
    size_t size = static_cast<size_t>(Knob("cipher.length", 128));
    if (length + 1 > size) {
        session->encrypt.active = false;
        return CKR_DATA_LEN_RANGE;
    }
    Bytes mask = Stream(KeyIdOf(session->encrypt.key), CKM_RSA_PKCS, nullptr, 0, size);
    Bytes result = mask;
    result[0] = static_cast<unsigned char>(length);
    for (CK_ULONG i = 0; i < length; ++i) result[1 + i] = data[i] ^ mask[1 + i];
    return Deliver(result, out, outLength, session->encrypt);
}

CK_RV MockDecryptInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    JOURNAL("C_DecryptInit session=" << handle << " mechanism=0x" << std::hex
                                     << (mechanism ? mechanism->mechanism : 0) << std::dec << " key=" << key);
    SCRIPTED("C_DecryptInit");
    if (mechanism != nullptr && mechanism->mechanism != CKM_RSA_PKCS) return CKR_MECHANISM_INVALID;
    return StartOperation(handle, mechanism, key, &MockSession::decrypt, true);
}

CK_RV MockDecrypt(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR out,
                  CK_ULONG_PTR outLength) {
    JOURNAL("C_Decrypt session=" << handle << " length=" << length
                                 << " capacity=" << (outLength ? *outLength : 0));
    SCRIPTED("C_Decrypt");
    CK_RV rv;
    MockSession *session = SessionFor(handle, rv);
    if (session == nullptr) return rv;
    if (!session->decrypt.active) return CKR_OPERATION_NOT_INITIALIZED;
    size_t size = static_cast<size_t>(Knob("cipher.length", 128));
    if (length != size || data == nullptr || data[0] + 1u > size) {
        session->decrypt.active = false;
        return CKR_ENCRYPTED_DATA_INVALID;
    }
    Bytes mask = Stream(KeyIdOf(session->decrypt.key), CKM_RSA_PKCS, nullptr, 0, size);
    Bytes result(data[0]);
    for (size_t i = 0; i < result.size(); ++i) result[i] = data[1 + i] ^ mask[1 + i];
    return Deliver(result, out, outLength, session->decrypt);
}

CK_RV NotSupported() { return CKR_FUNCTION_NOT_SUPPORTED; }

template <typename Function>
Function Unsupported() {
    return reinterpret_cast<Function>(&NotSupported);
}

// Every entry runs under the module's one lock, as a module initialised for
// several threads must be safe to call from them; the control interface
// takes the lock too. With the knob overlap.window.us set, every call is
// held open that long before it runs, so that overlaps, and callers' own
// races around a call, have time to show; an entry that names a session
// then marks the session busy for the call, and a second call on a session
// while one runs there is an overlap, which a caller must never cause. The
// mock counts overlaps and journals them.
template <typename Function, Function function, bool bySession>
struct Entry;

template <typename... Args, CK_RV (*function)(Args...), bool bySession>
struct Entry<CK_RV (*)(Args...), function, bySession> {
    static CK_RV Call(Args... args) {
        std::unique_lock<std::recursive_mutex> lock(ModuleLock());
        if (Mock().overlapWindow <= 0) {
            return function(args...);
        }
        if (Mock().running++ > 0) {
            ++Mock().moduleOverlaps;
        }
        CK_SESSION_HANDLE session = 0;
        if constexpr (bySession) {
            session = static_cast<CK_SESSION_HANDLE>(std::get<0>(std::forward_as_tuple(args...)));
            if (Mock().busySessions[session]++ > 0) {
                ++Mock().overlaps;
                JOURNAL("overlap session=" << session);
            }
        }
        const auto window = std::chrono::microseconds(Mock().overlapWindow);
        lock.unlock();
        std::this_thread::sleep_for(window);
        lock.lock();
        CK_RV rv = function(args...);
        --Mock().running;
        if constexpr (bySession) {
            auto busy = Mock().busySessions.find(session);
            if (busy != Mock().busySessions.end() && --busy->second <= 0) {
                Mock().busySessions.erase(busy);
            }
        }
        return rv;
    }
};

#define ENTRY(function) &Entry<decltype(&function), &function, false>::Call
#define SESSION_ENTRY(function) &Entry<decltype(&function), &function, true>::Call

CK_FUNCTION_LIST functionList = [] {
    CK_FUNCTION_LIST list;
    std::memset(&list, 0, sizeof list);
    list.version.major = 2;
    list.version.minor = 40;
    list.C_Initialize = ENTRY(MockInitialize);
    list.C_Finalize = ENTRY(MockFinalize);
    list.C_GetInfo = ENTRY(MockGetInfo);
    list.C_GetFunctionList = MockGetFunctionList;
    list.C_GetSlotList = ENTRY(MockGetSlotList);
    list.C_GetSlotInfo = ENTRY(MockGetSlotInfo);
    list.C_GetTokenInfo = ENTRY(MockGetTokenInfo);
    list.C_GetMechanismList = Unsupported<CK_C_GetMechanismList>();
    list.C_GetMechanismInfo = Unsupported<CK_C_GetMechanismInfo>();
    list.C_InitToken = ENTRY(MockInitToken);
    list.C_InitPIN = SESSION_ENTRY(MockInitPIN);
    list.C_SetPIN = SESSION_ENTRY(MockSetPIN);
    list.C_OpenSession = ENTRY(MockOpenSession);
    list.C_CloseSession = SESSION_ENTRY(MockCloseSession);
    list.C_CloseAllSessions = ENTRY(MockCloseAllSessions);
    list.C_GetSessionInfo = SESSION_ENTRY(MockGetSessionInfo);
    list.C_GetOperationState = Unsupported<CK_C_GetOperationState>();
    list.C_SetOperationState = Unsupported<CK_C_SetOperationState>();
    list.C_Login = SESSION_ENTRY(MockLogin);
    list.C_Logout = SESSION_ENTRY(MockLogout);
    list.C_CreateObject = Unsupported<CK_C_CreateObject>();
    list.C_CopyObject = Unsupported<CK_C_CopyObject>();
    list.C_DestroyObject = Unsupported<CK_C_DestroyObject>();
    list.C_GetObjectSize = Unsupported<CK_C_GetObjectSize>();
    list.C_GetAttributeValue = SESSION_ENTRY(MockGetAttributeValue);
    list.C_SetAttributeValue = Unsupported<CK_C_SetAttributeValue>();
    list.C_FindObjectsInit = SESSION_ENTRY(MockFindObjectsInit);
    list.C_FindObjects = SESSION_ENTRY(MockFindObjects);
    list.C_FindObjectsFinal = SESSION_ENTRY(MockFindObjectsFinal);
    list.C_EncryptInit = SESSION_ENTRY(MockEncryptInit);
    list.C_Encrypt = SESSION_ENTRY(MockEncrypt);
    list.C_EncryptUpdate = Unsupported<CK_C_EncryptUpdate>();
    list.C_EncryptFinal = Unsupported<CK_C_EncryptFinal>();
    list.C_DecryptInit = SESSION_ENTRY(MockDecryptInit);
    list.C_Decrypt = SESSION_ENTRY(MockDecrypt);
    list.C_DecryptUpdate = Unsupported<CK_C_DecryptUpdate>();
    list.C_DecryptFinal = Unsupported<CK_C_DecryptFinal>();
    list.C_DigestInit = SESSION_ENTRY(MockDigestInit);
    list.C_Digest = SESSION_ENTRY(MockDigest);
    list.C_DigestUpdate = Unsupported<CK_C_DigestUpdate>();
    list.C_DigestKey = Unsupported<CK_C_DigestKey>();
    list.C_DigestFinal = Unsupported<CK_C_DigestFinal>();
    list.C_SignInit = SESSION_ENTRY(MockSignInit);
    list.C_Sign = SESSION_ENTRY(MockSign);
    list.C_SignUpdate = Unsupported<CK_C_SignUpdate>();
    list.C_SignFinal = Unsupported<CK_C_SignFinal>();
    list.C_SignRecoverInit = Unsupported<CK_C_SignRecoverInit>();
    list.C_SignRecover = Unsupported<CK_C_SignRecover>();
    list.C_VerifyInit = SESSION_ENTRY(MockVerifyInit);
    list.C_Verify = SESSION_ENTRY(MockVerify);
    list.C_VerifyUpdate = Unsupported<CK_C_VerifyUpdate>();
    list.C_VerifyFinal = Unsupported<CK_C_VerifyFinal>();
    list.C_VerifyRecoverInit = Unsupported<CK_C_VerifyRecoverInit>();
    list.C_VerifyRecover = Unsupported<CK_C_VerifyRecover>();
    list.C_DigestEncryptUpdate = Unsupported<CK_C_DigestEncryptUpdate>();
    list.C_DecryptDigestUpdate = Unsupported<CK_C_DecryptDigestUpdate>();
    list.C_SignEncryptUpdate = Unsupported<CK_C_SignEncryptUpdate>();
    list.C_DecryptVerifyUpdate = Unsupported<CK_C_DecryptVerifyUpdate>();
    list.C_GenerateKey = Unsupported<CK_C_GenerateKey>();
    list.C_GenerateKeyPair = Unsupported<CK_C_GenerateKeyPair>();
    list.C_WrapKey = Unsupported<CK_C_WrapKey>();
    list.C_UnwrapKey = Unsupported<CK_C_UnwrapKey>();
    list.C_DeriveKey = Unsupported<CK_C_DeriveKey>();
    list.C_SeedRandom = Unsupported<CK_C_SeedRandom>();
    list.C_GenerateRandom = Unsupported<CK_C_GenerateRandom>();
    list.C_GetFunctionStatus = Unsupported<CK_C_GetFunctionStatus>();
    list.C_CancelFunction = Unsupported<CK_C_CancelFunction>();
    list.C_WaitForSlotEvent = Unsupported<CK_C_WaitForSlotEvent>();
    return list;
}();

// The table as built, for the entries a test removes to be put back.
const CK_FUNCTION_LIST builtList = functionList;

#define MOCK_ENTRY(name) {#name, [](CK_FUNCTION_LIST &list) { list.name = nullptr; }}
const std::map<std::string, void (*)(CK_FUNCTION_LIST &)> entryClearers = {
    MOCK_ENTRY(C_GetSlotList), MOCK_ENTRY(C_GetTokenInfo), MOCK_ENTRY(C_InitToken), MOCK_ENTRY(C_InitPIN),
    MOCK_ENTRY(C_SetPIN), MOCK_ENTRY(C_OpenSession), MOCK_ENTRY(C_CloseSession), MOCK_ENTRY(C_CloseAllSessions),
    MOCK_ENTRY(C_Login), MOCK_ENTRY(C_Logout), MOCK_ENTRY(C_GetAttributeValue), MOCK_ENTRY(C_FindObjectsInit),
    MOCK_ENTRY(C_FindObjects), MOCK_ENTRY(C_FindObjectsFinal), MOCK_ENTRY(C_EncryptInit), MOCK_ENTRY(C_Encrypt),
    MOCK_ENTRY(C_DecryptInit), MOCK_ENTRY(C_Decrypt), MOCK_ENTRY(C_DigestInit), MOCK_ENTRY(C_Digest),
    MOCK_ENTRY(C_SignInit), MOCK_ENTRY(C_Sign), MOCK_ENTRY(C_VerifyInit), MOCK_ENTRY(C_Verify),
};
#undef MOCK_ENTRY
#undef ENTRY
#undef SESSION_ENTRY

CK_RV MockGetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    JOURNAL("C_GetFunctionList");
    SCRIPTED("C_GetFunctionList");
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    *list = &functionList;
    return CKR_OK;
}

CK_RV MockGetPinStatus(CK_SLOT_ID id, PinStatus *status) {
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    JOURNAL("GetPinStatus slot=" << id);
    SCRIPTED("GetPinStatus");
    MockSlot *slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (Knob("pinstatus.write", 1) == 0) return CKR_OK;
    std::memset(status, 0, sizeof *status);
    long long forced = Knob("pinstatus.sotries", -1);
    status->soTriesLeft = static_cast<CK_BYTE>(forced >= 0 ? forced : std::max(slot->token.soTriesLeft, 0));
    return CKR_OK;
}

AuxFunctionList auxFunctionList = {{1, 0}, nullptr, nullptr, MockGetPinStatus};

}  // namespace

CK_RV GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) { return MockGetFunctionList(list); }

bool ClearEntry(const std::string &function) {
    auto clearer = entryClearers.find(function);
    if (clearer == entryClearers.end()) return false;
    clearer->second(functionList);
    return true;
}

void RestoreEntries() { functionList = builtList; }

CK_RV GetAuxFunctionList(AuxFunctionList **list) {
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    JOURNAL("E_GetAuxFunctionList");
    SCRIPTED("E_GetAuxFunctionList");
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    *list = &auxFunctionList;
    return CKR_OK;
}

}  // namespace mock
