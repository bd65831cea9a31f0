// State of the mock PKCS #11 module: scripted slots, tokens, objects,
// sessions and per-call results, and the journal of the calls received.
#ifndef KAVRO_TESTS_MOCK_STATE_H
#define KAVRO_TESTS_MOCK_STATE_H

#include "kavro/cryptoki.h"

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace mock {

using Bytes = std::vector<unsigned char>;

struct MockObject {
    CK_OBJECT_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attributes;
    std::set<CK_ATTRIBUTE_TYPE> failing;      // reads answer CKR_ATTRIBUTE_TYPE_INVALID
    std::set<CK_ATTRIBUTE_TYPE> unavailable;  // size query answers CK_UNAVAILABLE_INFORMATION with CKR_OK
    std::set<CK_ATTRIBUTE_TYPE> overlength;   // value read reports more than the buffer held
    std::set<CK_ATTRIBUTE_TYPE> hugelength;   // size query answers CK_UNAVAILABLE_INFORMATION - 1 with CKR_OK
};

enum class Login { kNone, kUser, kSecurityOfficer };

struct MockToken {
    bool present = true;
    bool writeProtected = false;  // read/write opens answer CKR_TOKEN_WRITE_PROTECTED
    unsigned char serial[16];
    unsigned char label[32];
    Bytes userPin;
    Bytes soPin;
    int soTriesLeft = 3;
    int userTriesLeft = 3;
    int maxTries = 3;
    Login login = Login::kNone;
    long soSeen = 0;  // operations and searches started while the SO was logged in
};

struct MockSlot {
    CK_SLOT_ID id = 0;
    MockToken token;
};

struct Operation {
    bool active = false;
    CK_MECHANISM_TYPE mechanism = 0;
    CK_OBJECT_HANDLE key = 0;
};

struct MockSession {
    CK_SESSION_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    bool searching = false;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t next = 0;
    Operation sign, verify, digest, encrypt, decrypt;
};

struct Failure {
    CK_RV rv = CKR_OK;
    long remaining = 1;  // < 0: always
    long skip = 0;       // calls to let through first
};

// A token that leaves its slot after a number of further module calls.
struct Pull {
    CK_SLOT_ID slot = 0;
    long callsLeft = 0;
    bool dropSessions = false;  // the module forgets the slot's sessions too
};

struct State {
    bool initialised = false;
    std::vector<MockSlot> slots;             // in the module's slot order
    std::unordered_map<CK_SLOT_ID, size_t> slotIndex;  // id -> position in slots
    std::map<CK_SESSION_HANDLE, MockSession> sessions;
    std::map<CK_OBJECT_HANDLE, MockObject> objects;
    std::map<std::string, std::deque<Failure>> failures;
    std::map<std::string, long long> knobs;
    std::optional<Pull> pull;
    CK_SESSION_HANDLE nextSession = 1;
    CK_OBJECT_HANDLE nextObject = 1;
    std::vector<std::string> journal;
    std::map<CK_SESSION_HANDLE, int> busySessions;  // calls running per session
    long overlaps = 0;                               // calls made on a busy session
    int running = 0;                                 // calls running in the module
    long moduleOverlaps = 0;                         // calls made while another ran
    long long overlapWindow = 0;                     // the knob overlap.window.us, in microseconds
};

// The module's one lock: held by every entry and by the control interface.
std::recursive_mutex &ModuleLock();

State &Mock();

// Adds a line to the journal (and to the file named by KAVRO_MOCK_JOURNAL_FILE).
void Note(const std::string &line);

// The scripted result for this call of the function, if one is due.
std::optional<CK_RV> Scripted(const char *function);

long long Knob(const std::string &name, long long fallback);

MockSlot *FindSlot(CK_SLOT_ID id);
void AddSlot(const MockSlot &slot);
bool Journalling();
// Sets the function list's entry for the function to null (false for a
// function the mock cannot drop); RestoreEntries puts every entry back.
bool ClearEntry(const std::string &function);
void RestoreEntries();

// Removes the pulled slot's token now (and its sessions, when asked).
void PullToken(const Pull &pull);
MockSession *FindSession(CK_SESSION_HANDLE handle);

std::string Hex(const unsigned char *bytes, size_t length);
inline std::string Hex(const Bytes &bytes) { return Hex(bytes.data(), bytes.size()); }

// Fills a CK_TOKEN_INFO-style blank-padded field.
void FillBlank(unsigned char *field, size_t size, const std::string &text);

}  // namespace mock

#endif  // KAVRO_TESTS_MOCK_STATE_H
