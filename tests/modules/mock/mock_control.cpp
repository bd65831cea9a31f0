// The mock module's exports and its control interface: tests send text
// commands through MockControl to script slots, tokens, objects and
// results, and read back the journal of calls.
//
//   reset                          forget slots, objects, sessions, scripts, knobs and the journal;
//                                  put back the function list's entries
//   initialise                     initialise the module as another user in the process would
//   finalise                       finalise it as another user would: sessions and logins end
//   slot ID [token=0|1] [serial=S] [label=S] [userpin=S] [sopin=S] [sotries=N] [usertries=N]
//          [writeprotected=0|1]    a write-protected token opens read-only sessions only
//   token ID present=0|1           insert or remove a slot's token
//   object SLOT class=cert|private|public|data|N [token=0|1] [private=0|1] [id=S] [serial=S]
//          [value=S] [handle=N] [failattr=A] [unavailable=A] [overlength=A] [hugelength=A]
//                                  -> the new handle
//   fail FUNCTION RV [times=N|always] [skip=N]
//   pull SLOT after=N [sessions=keep|drop]
//                                  the token leaves the slot after N more module calls: later calls on its
//                                  sessions answer CKR_DEVICE_REMOVED, or with sessions=drop the sessions
//                                  are gone and calls answer CKR_SESSION_HANDLE_INVALID
//   drop FUNCTION                  the function list's entry for FUNCTION becomes null, as in modules that
//                                  leave functions they lack unset (the functions kavro calls)
//   set KNOB VALUE                 (see the knobs read in mock_functions.cpp; journal.off 1 stops the journal)
//   journal                        -> every journalled call, one per line
//   overlaps                       -> how many calls came on a session while another call ran there
//   module-overlaps                -> how many calls came while any other call ran in the module
//   journal-clear
//   state SLOT                     -> login, sessions, PINs and label of the slot's token, and how many
//                                     operations and searches started while its SO was logged in
//
// A byte value S is text as written, or hex:0A0B... for raw bytes.
#include "mock_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#if defined(_WIN32)
#define MOCK_EXPORT extern "C" __declspec(dllexport)
#else
#define MOCK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace mock {

State &Mock() {
    static State state;
    return state;
}

std::recursive_mutex &ModuleLock() {
    static std::recursive_mutex lock;
    return lock;
}

void Note(const std::string &line) {
    if (!Journalling()) return;
    Mock().journal.push_back(line);
    if (const char *path = std::getenv("KAVRO_MOCK_JOURNAL_FILE")) {
        if (FILE *file = std::fopen(path, "a")) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
    }
}

std::optional<CK_RV> Scripted(const char *function) {
    if (Mock().pull && Mock().pull->callsLeft-- == 0) {
        PullToken(*Mock().pull);
        Mock().pull.reset();
    }
    auto entry = Mock().failures.find(function);
    if (entry == Mock().failures.end() || entry->second.empty()) return std::nullopt;
    Failure &failure = entry->second.front();
    if (failure.skip > 0) {
        --failure.skip;
        return std::nullopt;
    }
    CK_RV rv = failure.rv;
    if (failure.remaining > 0 && --failure.remaining == 0) entry->second.pop_front();
    return rv;
}

long long Knob(const std::string &name, long long fallback) {
    auto found = Mock().knobs.find(name);
    return found == Mock().knobs.end() ? fallback : found->second;
}

MockSlot *FindSlot(CK_SLOT_ID id) {
    auto found = Mock().slotIndex.find(id);
    return found == Mock().slotIndex.end() ? nullptr : &Mock().slots[found->second];
}

void AddSlot(const MockSlot &slot) {
    Mock().slotIndex[slot.id] = Mock().slots.size();
    Mock().slots.push_back(slot);
}

void PullToken(const Pull &pull) {
    MockSlot *slot = FindSlot(pull.slot);
    if (slot == nullptr) return;
    slot->token.present = false;
    if (!pull.dropSessions) return;
    for (auto entry = Mock().sessions.begin(); entry != Mock().sessions.end();) {
        entry = entry->second.slot == pull.slot ? Mock().sessions.erase(entry) : std::next(entry);
    }
    slot->token.login = Login::kNone;
}

bool Journalling() { return Knob("journal.off", 0) == 0; }

MockSession *FindSession(CK_SESSION_HANDLE handle) {
    auto found = Mock().sessions.find(handle);
    return found == Mock().sessions.end() ? nullptr : &found->second;
}

std::string Hex(const unsigned char *bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

void FillBlank(unsigned char *field, size_t size, const std::string &text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

CK_RV GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);
CK_RV GetAuxFunctionList(AuxFunctionList **list);

namespace {

struct Command {
    std::vector<std::string> words;
    std::map<std::string, std::string> options;

    bool Has(const std::string &key) const { return options.count(key) != 0; }
    std::string Text(const std::string &key, const std::string &fallback = "") const {
        auto found = options.find(key);
        return found == options.end() ? fallback : found->second;
    }
};

Command Parse(const std::string &text) {
    Command command;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        auto equals = word.find('=');
        if (equals != std::string::npos && !command.words.empty()) {
            command.options[word.substr(0, equals)] = word.substr(equals + 1);
        } else {
            command.words.push_back(word);
        }
    }
    return command;
}

unsigned long long Number(const std::string &text) { return std::strtoull(text.c_str(), nullptr, 0); }

Bytes ByteValue(const std::string &text) {
    Bytes bytes;
    if (text.rfind("hex:", 0) == 0) {
        for (size_t i = 4; i + 1 < text.size(); i += 2) {
            bytes.push_back(static_cast<unsigned char>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
        }
    } else {
        bytes.assign(text.begin(), text.end());
    }
    return bytes;
}

CK_ATTRIBUTE_TYPE AttributeNamed(const std::string &name) {
    if (name == "CKA_ID") return CKA_ID;
    if (name == "CKA_SERIAL_NUMBER") return CKA_SERIAL_NUMBER;
    if (name == "CKA_VALUE") return CKA_VALUE;
    if (name == "CKA_LABEL") return CKA_LABEL;
    return static_cast<CK_ATTRIBUTE_TYPE>(Number(name));
}

CK_OBJECT_CLASS ClassNamed(const std::string &name) {
    if (name == "cert") return CKO_CERTIFICATE;
    if (name == "private") return CKO_PRIVATE_KEY;
    if (name == "public") return CKO_PUBLIC_KEY;
    if (name == "data") return CKO_DATA;
    return static_cast<CK_OBJECT_CLASS>(Number(name));
}

template <typename T>
Bytes ValueBytes(T value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

std::string LoginName(Login login) {
    return login == Login::kUser ? "user" : login == Login::kSecurityOfficer ? "so" : "none";
}

// Runs one command; returns false with a message in reply when it cannot.
bool Run(const Command &command, std::string &reply) {
    if (command.words.empty()) return true;
    const std::string &verb = command.words[0];
    if (verb == "reset") {
        bool initialised = Mock().initialised;
        CK_SESSION_HANDLE nextSession = Mock().nextSession;
        CK_OBJECT_HANDLE nextObject = Mock().nextObject;
        // Calls still running keep their marks.
        std::map<CK_SESSION_HANDLE, int> busySessions = std::move(Mock().busySessions);
        int running = Mock().running;
        Mock() = State();
        Mock().busySessions = std::move(busySessions);
        Mock().running = running;
        RestoreEntries();
        // Handles keep growing so that stale handles from earlier tests stay invalid.
        Mock().initialised = initialised;
        Mock().nextSession = nextSession;
        Mock().nextObject = nextObject;
        return true;
    }
    if (verb == "initialise") {
        // As if another user in the process had called C_Initialize.
        Mock().initialised = true;
        return true;
    }
    if (verb == "finalise") {
        // As if another user in the process had called C_Finalize: every
        // session and login ends with it.
        Mock().initialised = false;
        Mock().sessions.clear();
        for (MockSlot &slot : Mock().slots) slot.token.login = Login::kNone;
        return true;
    }
    if (verb == "slot" && command.words.size() >= 2) {
        MockSlot slot;
        slot.id = static_cast<CK_SLOT_ID>(Number(command.words[1]));
        slot.token.present = command.Text("token", "1") != "0";
        slot.token.writeProtected = command.Text("writeprotected", "0") != "0";
        std::string id = std::to_string(slot.id);
        Bytes serial = ByteValue(command.Text("serial", "MOCK" + std::string(12 - std::min<size_t>(12, id.size()), '0') + id));
        std::memset(slot.token.serial, ' ', 16);
        std::memcpy(slot.token.serial, serial.data(), std::min<size_t>(16, serial.size()));
        FillBlank(slot.token.label, 32, command.Text("label", "mock token"));
        slot.token.userPin = ByteValue(command.Text("userpin", "1234"));
        slot.token.soPin = ByteValue(command.Text("sopin", "87654321"));
        slot.token.maxTries = static_cast<int>(Number(command.Text("maxtries", "3")));
        slot.token.soTriesLeft = static_cast<int>(Number(command.Text("sotries", std::to_string(slot.token.maxTries))));
        slot.token.userTriesLeft =
            static_cast<int>(Number(command.Text("usertries", std::to_string(slot.token.maxTries))));
        if (FindSlot(slot.id) != nullptr) {
            reply = "slot exists";
            return false;
        }
        AddSlot(slot);
        return true;
    }
    if (verb == "token" && command.words.size() >= 2) {
        MockSlot *slot = FindSlot(static_cast<CK_SLOT_ID>(Number(command.words[1])));
        if (slot == nullptr) {
            reply = "no such slot";
            return false;
        }
        slot->token.present = command.Text("present", "1") != "0";
        return true;
    }
    if (verb == "object" && command.words.size() >= 2) {
        MockObject object;
        object.slot = static_cast<CK_SLOT_ID>(Number(command.words[1]));
        object.handle = command.Has("handle") ? static_cast<CK_OBJECT_HANDLE>(Number(command.Text("handle")))
                                              : Mock().nextObject++;
        object.attributes[CKA_CLASS] = ValueBytes<CK_OBJECT_CLASS>(ClassNamed(command.Text("class", "data")));
        object.attributes[CKA_TOKEN] = Bytes{static_cast<unsigned char>(command.Text("token", "1") != "0")};
        object.attributes[CKA_PRIVATE] = Bytes{static_cast<unsigned char>(command.Text("private", "0") != "0")};
        if (command.Has("id")) object.attributes[CKA_ID] = ByteValue(command.Text("id"));
        if (command.Has("serial")) object.attributes[CKA_SERIAL_NUMBER] = ByteValue(command.Text("serial"));
        if (command.Has("value")) object.attributes[CKA_VALUE] = ByteValue(command.Text("value"));
        if (command.Has("label")) object.attributes[CKA_LABEL] = ByteValue(command.Text("label"));
        if (command.Has("failattr")) object.failing.insert(AttributeNamed(command.Text("failattr")));
        if (command.Has("unavailable")) object.unavailable.insert(AttributeNamed(command.Text("unavailable")));
        if (command.Has("overlength")) object.overlength.insert(AttributeNamed(command.Text("overlength")));
        if (command.Has("hugelength")) object.hugelength.insert(AttributeNamed(command.Text("hugelength")));
        Mock().objects[object.handle] = object;
        reply = std::to_string(object.handle);
        return true;
    }
    if (verb == "fail" && command.words.size() >= 3) {
        Failure failure;
        failure.rv = static_cast<CK_RV>(Number(command.words[2]));
        std::string times = command.Text("times", "1");
        failure.remaining = times == "always" ? -1 : static_cast<long>(Number(times));
        failure.skip = static_cast<long>(Number(command.Text("skip", "0")));
        Mock().failures[command.words[1]].push_back(failure);
        return true;
    }
    if (verb == "drop" && command.words.size() >= 2) {
        if (!ClearEntry(command.words[1])) {
            reply = "cannot drop " + command.words[1];
            return false;
        }
        return true;
    }
    if (verb == "pull" && command.words.size() >= 2) {
        Pull pull;
        pull.slot = static_cast<CK_SLOT_ID>(Number(command.words[1]));
        pull.callsLeft = static_cast<long>(Number(command.Text("after", "0")));
        pull.dropSessions = command.Text("sessions", "keep") == "drop";
        if (FindSlot(pull.slot) == nullptr) {
            reply = "no such slot";
            return false;
        }
        Mock().pull = pull;
        return true;
    }
    if (verb == "set" && command.words.size() >= 3) {
        long long value = std::strtoll(command.words[2].c_str(), nullptr, 0);
        Mock().knobs[command.words[1]] = value;
        // Read on every call: kept apart from the knobs' map.
        if (command.words[1] == "overlap.window.us") Mock().overlapWindow = value;
        return true;
    }
    if (verb == "journal") {
        for (const std::string &line : Mock().journal) reply += line + "\n";
        return true;
    }
    if (verb == "overlaps") {
        reply += std::to_string(Mock().overlaps) + "\n";
        return true;
    }
    if (verb == "module-overlaps") {
        reply += std::to_string(Mock().moduleOverlaps) + "\n";
        return true;
    }
    if (verb == "journal-clear") {
        Mock().journal.clear();
        return true;
    }
    if (verb == "state" && command.words.size() >= 2) {
        MockSlot *slot = FindSlot(static_cast<CK_SLOT_ID>(Number(command.words[1])));
        if (slot == nullptr) {
            reply = "no such slot";
            return false;
        }
        int sessions = 0;
        std::string handles;
        for (const auto &entry : Mock().sessions) {
            if (entry.second.slot == slot->id) {
                ++sessions;
                handles += (handles.empty() ? "" : ",") + std::to_string(entry.first);
            }
        }
        std::ostringstream out;
        out << "login=" << LoginName(slot->token.login) << " sessions=" << sessions << " handles=" << handles
            << " userpin=" << Hex(slot->token.userPin) << " sopin=" << Hex(slot->token.soPin)
            << " sotries=" << slot->token.soTriesLeft << " usertries=" << slot->token.userTriesLeft
            << " label=" << Hex(slot->token.label, 32) << " soseen=" << slot->token.soSeen;
        reply = out.str();
        return true;
    }
    reply = "unknown command: " + verb;
    return false;
}

}  // namespace
}  // namespace mock

// Runs commands separated by ';' or new lines. Returns 0, or -1 with the
// reason in reply. The reply is cut to replySize - 1 bytes and terminated;
// the return value 1 tells that it was cut.
MOCK_EXPORT int MockControl(const char *commands, char *reply, unsigned long replySize) {
    std::lock_guard<std::recursive_mutex> lock(mock::ModuleLock());
    std::string text(commands ? commands : "");
    std::string output;
    bool ok = true;
    size_t start = 0;
    while (ok && start <= text.size()) {
        size_t end = text.find_first_of(";\n", start);
        if (end == std::string::npos) end = text.size();
        std::string message;
        ok = mock::Run(mock::Parse(text.substr(start, end - start)), message);
        output += message;
        start = end + 1;
    }
    int result = ok ? 0 : -1;
    if (reply != nullptr && replySize > 0) {
        size_t n = std::min<size_t>(output.size(), replySize - 1);
        std::memcpy(reply, output.data(), n);
        reply[n] = '\0';
        if (ok && n < output.size()) result = 1;
    }
    return result;
}

MOCK_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) { return mock::GetFunctionList(list); }

#if !defined(MOCK_WITHOUT_AUX_FUNCTIONS)
MOCK_EXPORT CK_RV E_GetAuxFunctionList(AuxFunctionList **list) { return mock::GetAuxFunctionList(list); }
#endif

#if !defined(_WIN32)
// Loads and unloads show in the file journal, which outlives the module.
__attribute__((constructor)) static void NoteLoad() { mock::Note("load"); }
__attribute__((destructor)) static void NoteUnload() {
    if (const char *path = std::getenv("KAVRO_MOCK_JOURNAL_FILE")) {
        if (FILE *file = std::fopen(path, "a")) {
            std::fprintf(file, "unload\n");
            std::fclose(file);
        }
    }
}
#endif
