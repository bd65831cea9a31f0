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
//
// Cases of the personal store work with files in the folder given to the
// harness (--files): certificates, signatures made by OpenSSL, and the
// signatures the library made, written there for OpenSSL to check:
//
//   Call("VerifyByCSP", {Int(3), File("certs/two.der").As("der"), LengthOf("der"), Int(0),
//                        File("data.txt").As("data"), LengthOf("data"),
//                        File("sigs/two.sig").Reversed().As("sig"), LengthOf("sig")}).Returns(0),
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
    enum class Kind { kInt, kSaved, kNull, kBytes, kInts, kByteArrays, kString, kFile, kPath, kContents, kLengthOf };
    Kind kind = Kind::kNull;
    jint value = 0;
    std::string text;  // kSaved: the saved name; kString: the text (UTF-8); kFile, kPath: the file;
                       // kContents, kLengthOf: the array
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    std::vector<std::optional<std::vector<jbyte>>> byteArrays;
    std::string name;          // the array's name for later checks
    bool unavailable = false;  // the JVM cannot provide its elements
    bool reversed = false;     // a byte[]'s octets in reverse order
    long changedOctet = -1;    // a byte[] octet whose lowest bit is flipped

    Arg As(const std::string &arrayName) const;
    Arg Unavailable() const;
    Arg Reversed() const;
    Arg WithOctetChanged(long index) const;
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
// A byte[] of a file's octets; the file named relative to the files folder.
Arg File(const std::string &path);
// A byte[] of the file's full path in the platform's form (not terminated).
Arg PathOf(const std::string &path);
// A byte[] holding what a named array of an earlier call holds now.
Arg Contents(const std::string &array);
// An int: the length of a named array (one made earlier in the same call
// included) plus delta.
Arg LengthOf(const std::string &array, jint delta = 0);

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
// The journal holds at least one object search, and each one began after the
// last had ended with C_FindObjectsFinal, the last one included.
Step SearchesClosed(int kind);
Step IntsAre(const std::string &array, const std::vector<jint> &ints);
Step BytesAre(const std::string &array, const std::string &text);
Step BytesHexAre(const std::string &array, const std::string &hex);  // hex may name ${saved} values
Step SameBytes(const std::string &array, const std::string &other);  // two byte[]s hold the same octets
Step ByteArraysHexAre(const std::string &array, const std::vector<std::string> &hex);  // a byte[][], element by element
Step GivenBack(const std::string &array, Release how);
// Writes the first length octets of a named array (all when length is
// negative) to a file of the files folder, for checks outside the harness.
Step SaveBytes(const std::string &array, const std::string &path, jint length = -1);
// Keeps what a named byte[] holds, in hex, for ${name}.
Step SaveHex(const std::string &array, const std::string &name);
// Runs the steps on several threads at once, each thread on a fake JVM of
// its own with the case's saved values, every thread the given number of
// rounds. Steps that script a mock do not belong here: the threads only
// call and check.
Step AtOnce(int threads, int rounds, std::vector<Step> steps);

struct Case {
    std::string name;
    std::vector<Step> steps;
};

// Case tables register themselves; a file of cases holds
//   const harness::CaseTable table("area", { Case{...}, ... });
// Tables run in the order of their area names. A table made kWhenNamed runs
// only when --case names it: its cases need a set-up of their own (a display
// and a driver answering the dialog).
class CaseTable {
public:
    enum class Run { kAlways, kWhenNamed };
    CaseTable(const char *area, std::vector<Case> cases, Run run = Run::kAlways);
    static std::vector<const CaseTable *> &All();
    const char *area;
    std::vector<Case> cases;
    Run run;
};

}  // namespace harness

#endif  // KAVRO_HARNESS_HARNESS_H
