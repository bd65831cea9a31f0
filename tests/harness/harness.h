// The harness's case model. A case is a list of steps written as data rows:
// script a mock module, call an export with Java-style arguments and check
// its result, then check what the caller's arrays hold, how the library gave
// them back, and what the module saw. Every call is checked by the fake JNI
// environment; anything taken and not given back fails the case.
//
//   Case{"Login maps results", {
//       Mock(1, "reset; slot 0x1301 userpin=1234"),
//       Call("GetSlotList", {Int(1), Null(), Null()}).Returns(0),
//       Call("ConnectToken", {Int(1), Int(0x1301)}).ReturnsNonZero().Save("session"),
//       Call("Login", {Int(1), Int(0x1301), Bytes("1234").As("pin")}).Returns(0),
//       JournalHas(1, "C_Login session=${session} user=1 pin=31323334"),
//       GivenBack("pin", Release::kWipedDiscard),
//   }}
//
// Texts may name saved values as ${name}. Kind 3's mock is left to the
// module-loading case, which must be the first to use it.
#ifndef KAVRO_HARNESS_HARNESS_H
#define KAVRO_HARNESS_HARNESS_H

#include <jni.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace harness {

class CaseRun;

// One argument of a call, as a Java caller passes it.
struct Arg {
    enum class Kind { kInt, kSaved, kNull, kBytes, kInts, kByteArrays, kString };
    Kind kind = Kind::kNull;
    jint value = 0;
    std::string text;  // kSaved: the saved name; kString: the text (UTF-8)
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    std::vector<std::optional<std::vector<jbyte>>> byteArrays;
    std::string name;          // the array's name for later checks
    bool unavailable = false;  // the JVM cannot provide its elements

    Arg As(const std::string &arrayName) const;
    Arg Unavailable() const;
};

Arg Int(std::int64_t value);  // the low 32 bits, as Java's (int) cast keeps them
Arg Saved(const std::string &name);
Arg Null();
Arg Bytes(const std::string &text);
Arg BytesHex(const std::string &hex);
Arg Ints(const std::vector<jint> &ints);
Arg Ints(std::size_t count, jint fill);
Arg ByteArrays(const std::vector<std::optional<std::vector<jbyte>>> &arrays);
Arg Text(const std::string &utf8);

struct Step {
    std::string description;
    std::function<void(CaseRun &)> run;
};

// A call of one export; converts to a Step.
class Call {
public:
    Call(std::string method, std::vector<Arg> args);
    Call &Returns(jint value);
    Call &ReturnsNonZero();
    Call &ReturnsText(const std::string &text);
    Call &ReturnsBytesHex(const std::string &hex);
    Call &ReturnsNull();
    Call &Save(const std::string &name);  // keeps an int result for ${name} and Saved(name)
    operator Step() const;

private:
    enum class Expect { kAny, kInt, kNonZero, kText, kBytes, kNull };
    std::string method_;
    std::vector<Arg> args_;
    Expect expect_ = Expect::kAny;
    jint value_ = 0;
    std::string text_;
    std::vector<jbyte> bytes_;
    std::string saveAs_;
};

// How the library is expected to have given a named array back. A String's
// characters, given back with ReleaseStringUTFChars, count as discarded.
enum class Release {
    kCopyBack,      // taken, every Release with mode 0
    kDiscard,       // taken, every Release with JNI_ABORT
    kWipedDiscard,  // as kDiscard, and the copy held only zeros when given back
    kNeverTaken,    // no elements were asked for
    kRefusedOnly,   // asked for, refused by the JVM, nothing given back
};

Step Mock(int kind, const std::string &commands);
Step MockSave(int kind, const std::string &commands, const std::string &name);  // keeps the reply
Step JournalHas(int kind, const std::string &text);     // a journal line contains the text
Step JournalLacks(int kind, const std::string &text);   // no journal line contains it
Step JournalCalls(int kind, const std::vector<std::string> &functions);  // the calls, in order, exactly
Step StateHas(int kind, std::int64_t slot, const std::string &text);      // "state SLOT" contains it
Step IntsAre(const std::string &array, const std::vector<jint> &ints);
Step BytesAre(const std::string &array, const std::string &text);
Step BytesHexAre(const std::string &array, const std::string &hex);
Step GivenBack(const std::string &array, Release how);

struct Case {
    std::string name;
    std::vector<Step> steps;
};

// Case tables register themselves; a file of cases holds
//   const harness::CaseTable table("area", { Case{...}, ... });
// Tables run in the order of their area names.
class CaseTable {
public:
    CaseTable(const char *area, std::vector<Case> cases);
    static std::vector<const CaseTable *> &All();
    const char *area;
    std::vector<Case> cases;
};

}  // namespace harness

#endif  // KAVRO_HARNESS_HARNESS_H
