// The case model at work: arguments made into Java objects of the fake JVM,
// calls through the exports' real signatures, checks, and the case runner.
#include "case_run.h"
#include "kavro_methods.h"
#include "library.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <mutex>
#include <memory>
#include <tuple>
#include <utility>

namespace harness {
namespace {

const char *const kModuleFileNames[5] = {
    "zelcsp11.dll", "orbeka-ca_csp11.dll", "dunmere-ca.dll", "talvis-ca.dll", "MorvenCA.dll",
};

std::string HexOf(const std::vector<jbyte> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (jbyte b : bytes) {
        auto octet = static_cast<unsigned char>(b);
        text += digits[octet >> 4];
        text += digits[octet & 15];
    }
    return text;
}

std::vector<jbyte> FromHex(const std::string &hex) {
    std::vector<jbyte> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<jbyte>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return bytes;
}

std::string IntsText(const std::vector<jint> &ints) {
    std::string text = "{";
    for (std::size_t i = 0; i < ints.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(ints[i]);
    }
    return text + "}";
}

std::string ArgText(const Arg &arg) {
    std::string text;
    switch (arg.kind) {
    case Arg::Kind::kInt: text = std::to_string(arg.value); break;
    case Arg::Kind::kSaved: text = "${" + arg.text + "}"; break;
    case Arg::Kind::kNull: text = "null"; break;
    case Arg::Kind::kBytes: text = "byte[" + std::to_string(arg.bytes.size()) + "]"; break;
    case Arg::Kind::kInts: text = "int[" + std::to_string(arg.ints.size()) + "]"; break;
    case Arg::Kind::kByteArrays: text = "byte[" + std::to_string(arg.byteArrays.size()) + "][]"; break;
    case Arg::Kind::kString: text = "\"" + arg.text + "\""; break;
    case Arg::Kind::kFile: text = "file " + arg.text; break;
    case Arg::Kind::kPath: text = "path of " + arg.text; break;
    case Arg::Kind::kContents: text = "copy of " + arg.text; break;
    case Arg::Kind::kLengthOf:
        text = "length of " + arg.text + (arg.value != 0 ? (arg.value > 0 ? " + " : " - ") +
                                                               std::to_string(arg.value > 0 ? arg.value : -arg.value)
                                                         : "");
        break;
    }
    if (arg.reversed) text += " reversed";
    if (arg.changedOctet >= 0) text += " with octet " + std::to_string(arg.changedOctet) + " changed";
    if (!arg.name.empty()) text += " " + arg.name;
    if (arg.unavailable) text += " (unavailable)";
    return text;
}

// What an export returned.
struct Outcome {
    enum class Kind { kNone, kInt, kText, kBytes, kNull } kind = Kind::kNone;
    jint value = 0;
    std::string text;
    std::vector<jbyte> bytes;
    jobject ref = nullptr;
};

// Java arguments made from the row's arguments, by the parameter's type.
template <typename T>
struct JavaArg;

std::string Label(const Arg &arg, std::size_t index, const char *type) {
    return !arg.name.empty() ? arg.name : std::string(type) + " argument " + std::to_string(index + 1);
}

template <typename T>
T Remember(CaseRun &run, const Arg &arg, T object) {
    if (!arg.name.empty()) run.arrays[arg.name] = object;
    if (arg.unavailable) run.jvm.RefuseElements(object);
    return object;
}

void WrongArg(CaseRun &run, const Arg &arg, std::size_t index, const char *type) {
    run.Fail("row error: argument " + std::to_string(index + 1) + " is " + ArgText(arg) + ", the method takes " +
             type);
}

template <>
struct JavaArg<jint> {
    static jint From(CaseRun &run, const Arg &arg, std::size_t index) {
        if (arg.kind == Arg::Kind::kInt) return arg.value;
        if (arg.kind == Arg::Kind::kSaved) {
            auto found = run.saved.find(arg.text);
            if (found == run.saved.end()) {
                run.Fail("row error: nothing saved as " + arg.text);
                return 0;
            }
            return Int(std::strtoll(found->second.c_str(), nullptr, 0)).value;
        }
        if (arg.kind == Arg::Kind::kLengthOf) {
            jobject array = run.Named(arg.text);
            if (array == nullptr) return 0;
            return static_cast<jint>(run.jvm.BytesOf(array).size()) + arg.value;
        }
        WrongArg(run, arg, index, "int");
        return 0;
    }
};

bool ReadWhole(const std::string &path, std::vector<jbyte> &bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The octets of a byte[] argument; false (and the case failed) when there are none.
bool OctetsOf(CaseRun &run, const Arg &arg, std::vector<jbyte> &bytes) {
    switch (arg.kind) {
    case Arg::Kind::kBytes: bytes = arg.bytes; break;
    case Arg::Kind::kFile: {
        std::string path = run.FilePath(arg.text);
        if (path.empty()) return false;
        if (!ReadWhole(path, bytes)) {
            run.Fail("cannot read " + path);
            return false;
        }
        break;
    }
    case Arg::Kind::kPath: {
        std::string path = run.FilePath(arg.text);
        if (path.empty()) return false;
        bytes.assign(path.begin(), path.end());
        break;
    }
    case Arg::Kind::kContents: {
        jobject array = run.Named(arg.text);
        if (array == nullptr) return false;
        bytes = run.jvm.BytesOf(array);
        break;
    }
    default: return false;
    }
    if (arg.reversed) std::reverse(bytes.begin(), bytes.end());
    if (arg.changedOctet >= 0) {
        if (static_cast<std::size_t>(arg.changedOctet) >= bytes.size()) {
            run.Fail("row error: " + ArgText(arg) + " has only " + std::to_string(bytes.size()) + " octets");
            return false;
        }
        bytes[static_cast<std::size_t>(arg.changedOctet)] ^= 1;
    }
    return true;
}

template <>
struct JavaArg<jbyteArray> {
    static jbyteArray From(CaseRun &run, const Arg &arg, std::size_t index) {
        if (arg.kind == Arg::Kind::kNull) return nullptr;
        std::vector<jbyte> bytes;
        if (arg.kind != Arg::Kind::kBytes && arg.kind != Arg::Kind::kFile && arg.kind != Arg::Kind::kPath &&
            arg.kind != Arg::Kind::kContents) {
            WrongArg(run, arg, index, "byte[]");
            return nullptr;
        }
        if (!OctetsOf(run, arg, bytes)) return nullptr;
        return Remember(run, arg, run.jvm.NewCallerBytes(bytes, Label(arg, index, "byte[]")));
    }
};

template <>
struct JavaArg<jintArray> {
    static jintArray From(CaseRun &run, const Arg &arg, std::size_t index) {
        if (arg.kind == Arg::Kind::kNull) return nullptr;
        if (arg.kind != Arg::Kind::kInts) {
            WrongArg(run, arg, index, "int[]");
            return nullptr;
        }
        return Remember(run, arg, run.jvm.NewCallerInts(arg.ints, Label(arg, index, "int[]")));
    }
};

template <>
struct JavaArg<jobjectArray> {
    static jobjectArray From(CaseRun &run, const Arg &arg, std::size_t index) {
        if (arg.kind == Arg::Kind::kNull) return nullptr;
        if (arg.kind != Arg::Kind::kByteArrays) {
            WrongArg(run, arg, index, "byte[][]");
            return nullptr;
        }
        return Remember(run, arg, run.jvm.NewCallerByteArrays(arg.byteArrays, Label(arg, index, "byte[][]")));
    }
};

template <>
struct JavaArg<jstring> {
    static jstring From(CaseRun &run, const Arg &arg, std::size_t index) {
        if (arg.kind == Arg::Kind::kNull) return nullptr;
        if (arg.kind != Arg::Kind::kString) {
            WrongArg(run, arg, index, "String");
            return nullptr;
        }
        return Remember(run, arg, run.jvm.NewCallerString(arg.text, Label(arg, index, "String")));
    }
};

Outcome ToOutcome(CaseRun &, jint result) {
    Outcome outcome;
    outcome.kind = Outcome::Kind::kInt;
    outcome.value = result;
    return outcome;
}

Outcome ToOutcome(CaseRun &run, jobject result) {
    Outcome outcome;
    outcome.ref = result;
    if (result == nullptr) {
        outcome.kind = Outcome::Kind::kNull;
    } else if (run.jvm.IsString(result)) {
        outcome.kind = Outcome::Kind::kText;
        outcome.text = run.jvm.TextOf(result);
    } else if (run.jvm.IsByteArray(result)) {
        outcome.kind = Outcome::Kind::kBytes;
        outcome.bytes = run.jvm.BytesOf(result);
    }
    return outcome;
}

// The stack bytes of one argument of a 32-bit __stdcall function.
template <typename T>
constexpr std::size_t StackBytes() {
    return (sizeof(T) + 3) / 4 * 4;
}

// Calls an export through its JNI signature.
template <typename Signature>
struct Invoker;

template <typename R, typename... P>
struct Invoker<R(P...)> {
    using Function = R(JNICALL *)(JNIEnv *, jclass, P...);
    static constexpr std::size_t kArity = sizeof...(P);
    // N of the decorated name _X@N: what the callee pops, JNIEnv* and jclass included.
    static constexpr std::size_t kArgumentBytes =
        StackBytes<JNIEnv *>() + StackBytes<jclass>() + (std::size_t{0} + ... + StackBytes<P>());

    static Outcome Invoke(void *address, CaseRun &run, const std::vector<Arg> &args) {
        return InvokeWith(reinterpret_cast<Function>(address), run, args, std::index_sequence_for<P...>{});
    }

    template <std::size_t... I>
    static Outcome InvokeWith(Function function, CaseRun &run, const std::vector<Arg> &args,
                              std::index_sequence<I...>) {
        // Braced initialisation makes the arguments in order.
        std::tuple<P...> values{JavaArg<P>::From(run, args[I], I)...};
        if (run.Failed()) return Outcome{};
        run.jvm.BeginCall();
        R result = function(run.jvm.Env(), run.jvm.KavroClass(), std::get<I>(values)...);
        return ToOutcome(run, result);
    }
};

struct MethodInfo {
    const char *name;
    std::size_t arity;
    std::size_t argumentBytes;
    Outcome (*invoke)(void *address, CaseRun &run, const std::vector<Arg> &args);
};

const std::vector<MethodInfo> &Methods() {
    static const std::vector<MethodInfo> methods = {
#define KAVRO_METHOD_INFO(name, signature) \
    {#name, Invoker<signature>::kArity, Invoker<signature>::kArgumentBytes, &Invoker<signature>::Invoke},
        KAVRO_METHODS(KAVRO_METHOD_INFO)
#undef KAVRO_METHOD_INFO
    };
    return methods;
}

const MethodInfo *FindMethod(const std::string &name) {
    for (const MethodInfo &method : Methods()) {
        if (name == method.name) return &method;
    }
    return nullptr;
}

bool MockReply(CaseRun &run, int kind, const std::string &commands, std::string &reply) {
    if (!run.mocks.Control(kind, run.Expand(commands), reply)) {
        run.Fail("mock " + std::to_string(kind) + " \"" + run.Expand(commands) + "\": " + reply);
        return false;
    }
    return true;
}

std::vector<std::string> JournalLines(CaseRun &run, int kind) {
    std::string reply;
    std::vector<std::string> lines;
    if (!MockReply(run, kind, "journal", reply)) return lines;
    std::istringstream in(reply);
    for (std::string line; std::getline(in, line);) {
        // The module's own load and unload notes are not calls.
        if (line != "load" && line != "unload") lines.push_back(line);
    }
    return lines;
}

std::string Joined(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += "\n        " + line;
    return text.empty() ? " (empty)" : text;
}

const char *ReleaseName(Release how) {
    switch (how) {
    case Release::kCopyBack: return "copied back (mode 0)";
    case Release::kDiscard: return "discarded (JNI_ABORT)";
    case Release::kWipedDiscard: return "wiped and discarded (JNI_ABORT)";
    case Release::kNeverTaken: return "never taken";
    case Release::kRefusedOnly: return "refused by the JVM and not given back";
    }
    return "?";
}

}  // namespace

// --- arguments ---

Arg Arg::As(const std::string &arrayName) const {
    Arg copy = *this;
    copy.name = arrayName;
    return copy;
}

Arg Arg::Unavailable() const {
    Arg copy = *this;
    copy.unavailable = true;
    return copy;
}

Arg Arg::Reversed() const {
    Arg copy = *this;
    copy.reversed = true;
    return copy;
}

Arg Arg::WithOctetChanged(long index) const {
    Arg copy = *this;
    copy.changedOctet = index;
    return copy;
}

Arg Int(std::int64_t value) {
    Arg arg;
    arg.kind = Arg::Kind::kInt;
    // Java's (int) cast: the low 32 bits, two's complement.
    auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(value));
    arg.value = low < 0x80000000u ? static_cast<jint>(low) : static_cast<jint>(static_cast<std::int64_t>(low) - 0x100000000LL);
    return arg;
}

Arg Saved(const std::string &name) {
    Arg arg;
    arg.kind = Arg::Kind::kSaved;
    arg.text = name;
    return arg;
}

Arg Null() { return Arg{}; }

Arg Bytes(const std::string &text) {
    Arg arg;
    arg.kind = Arg::Kind::kBytes;
    arg.bytes.assign(text.begin(), text.end());
    return arg;
}

Arg BytesHex(const std::string &hex) {
    Arg arg;
    arg.kind = Arg::Kind::kBytes;
    arg.bytes = FromHex(hex);
    return arg;
}

Arg Ints(const std::vector<jint> &ints) {
    Arg arg;
    arg.kind = Arg::Kind::kInts;
    arg.ints = ints;
    return arg;
}

Arg Ints(std::size_t count, jint fill) { return Ints(std::vector<jint>(count, fill)); }

Arg ByteArrays(const std::vector<std::optional<std::vector<jbyte>>> &arrays) {
    Arg arg;
    arg.kind = Arg::Kind::kByteArrays;
    arg.byteArrays = arrays;
    return arg;
}

Arg Text(const std::string &utf8) {
    Arg arg;
    arg.kind = Arg::Kind::kString;
    arg.text = utf8;
    return arg;
}

Arg File(const std::string &path) {
    Arg arg;
    arg.kind = Arg::Kind::kFile;
    arg.text = path;
    return arg;
}

Arg PathOf(const std::string &path) {
    Arg arg;
    arg.kind = Arg::Kind::kPath;
    arg.text = path;
    return arg;
}

Arg Contents(const std::string &array) {
    Arg arg;
    arg.kind = Arg::Kind::kContents;
    arg.text = array;
    return arg;
}

Arg LengthOf(const std::string &array, jint delta) {
    Arg arg;
    arg.kind = Arg::Kind::kLengthOf;
    arg.text = array;
    arg.value = delta;
    return arg;
}

// --- calls ---

Call::Call(std::string method, std::vector<Arg> args) : method_(std::move(method)), args_(std::move(args)) {}

Call &Call::Returns(jint value) {
    expect_ = Expect::kInt;
    value_ = value;
    return *this;
}

Call &Call::ReturnsNonZero() {
    expect_ = Expect::kNonZero;
    return *this;
}

Call &Call::ReturnsText(const std::string &text) {
    expect_ = Expect::kText;
    text_ = text;
    return *this;
}

Call &Call::ReturnsBytesHex(const std::string &hex) {
    expect_ = Expect::kBytes;
    bytes_ = FromHex(hex);
    return *this;
}

Call &Call::ReturnsNull() {
    expect_ = Expect::kNull;
    return *this;
}

Call &Call::Save(const std::string &name) {
    saveAs_ = name;
    return *this;
}

Call::operator Step() const {
    std::string description = method_ + "(";
    for (std::size_t i = 0; i < args_.size(); ++i) description += (i ? ", " : "") + ArgText(args_[i]);
    description += ")";
    Call call = *this;
    return Step{description, [call](CaseRun &run) {
        const MethodInfo *method = FindMethod(call.method_);
        if (method == nullptr) {
            run.Fail("row error: Brelmont.Kavro has no method " + call.method_);
            return;
        }
        auto address = run.exports.methods.find(call.method_);
        if (address == run.exports.methods.end() || address->second == nullptr) {
            run.Fail("export Java_Brelmont_Kavro_" + call.method_ + " is missing from " + run.exports.library);
            return;
        }
        if (call.args_.size() != method->arity) {
            run.Fail("row error: " + call.method_ + " takes " + std::to_string(method->arity) + " arguments, the row gives " +
                     std::to_string(call.args_.size()));
            return;
        }
        Outcome outcome = method->invoke(address->second, run, call.args_);
        if (run.Failed()) return;
        for (const std::string &problem : run.jvm.EndCall(outcome.ref)) run.Fail(problem);
        std::string got = outcome.kind == Outcome::Kind::kInt    ? std::to_string(outcome.value)
                          : outcome.kind == Outcome::Kind::kText  ? "\"" + outcome.text + "\""
                          : outcome.kind == Outcome::Kind::kBytes ? "byte[] " + HexOf(outcome.bytes)
                          : outcome.kind == Outcome::Kind::kNull  ? "null"
                                                                  : "an object of an unexpected kind";
        switch (call.expect_) {
        case Expect::kAny: break;
        case Expect::kInt:
            if (outcome.kind != Outcome::Kind::kInt || outcome.value != call.value_)
                run.Fail("returned " + got + ", expected " + std::to_string(call.value_));
            break;
        case Expect::kNonZero:
            if (outcome.kind != Outcome::Kind::kInt || outcome.value == 0) run.Fail("returned " + got + ", expected non-zero");
            break;
        case Expect::kText:
            if (outcome.kind != Outcome::Kind::kText || outcome.text != call.text_)
                run.Fail("returned " + got + ", expected \"" + call.text_ + "\"");
            break;
        case Expect::kBytes:
            if (outcome.kind != Outcome::Kind::kBytes || outcome.bytes != call.bytes_)
                run.Fail("returned " + got + ", expected byte[] " + HexOf(call.bytes_));
            break;
        case Expect::kNull:
            if (outcome.kind != Outcome::Kind::kNull) run.Fail("returned " + got + ", expected null");
            break;
        }
        if (!call.saveAs_.empty()) {
            run.saved[call.saveAs_] = outcome.kind == Outcome::Kind::kInt ? std::to_string(outcome.value) : outcome.text;
        }
    }};
}

// --- checks ---

Step Mock(int kind, const std::string &commands) {
    return Step{"mock " + std::to_string(kind) + ": " + commands, [kind, commands](CaseRun &run) {
                    std::string reply;
                    MockReply(run, kind, commands, reply);
                }};
}

Step MockSave(int kind, const std::string &commands, const std::string &name) {
    return Step{"mock " + std::to_string(kind) + ": " + commands + " -> " + name,
                [kind, commands, name](CaseRun &run) {
                    std::string reply;
                    if (MockReply(run, kind, commands, reply)) {
                        reply.erase(reply.find_last_not_of(" \n") + 1);
                        run.saved[name] = reply;
                    }
                }};
}

Step JournalHas(int kind, const std::string &text) {
    return Step{"journal of mock " + std::to_string(kind) + " has \"" + text + "\"", [kind, text](CaseRun &run) {
                    std::vector<std::string> lines = JournalLines(run, kind);
                    std::string wanted = run.Expand(text);
                    if (std::none_of(lines.begin(), lines.end(),
                                     [&](const std::string &line) { return line.find(wanted) != std::string::npos; }))
                        run.Fail("no journal line contains \"" + wanted + "\"; the journal:" + Joined(lines));
                }};
}

Step JournalLacks(int kind, const std::string &text) {
    return Step{"journal of mock " + std::to_string(kind) + " lacks \"" + text + "\"", [kind, text](CaseRun &run) {
                    std::vector<std::string> lines = JournalLines(run, kind);
                    std::string unwanted = run.Expand(text);
                    for (const std::string &line : lines) {
                        if (line.find(unwanted) != std::string::npos) run.Fail("the journal has \"" + line + "\"");
                    }
                }};
}

Step JournalCalls(int kind, const std::vector<std::string> &functions) {
    std::string list;
    for (const std::string &f : functions) list += (list.empty() ? "" : " ") + f;
    return Step{"journal of mock " + std::to_string(kind) + " is [" + list + "]", [kind, functions](CaseRun &run) {
                    std::vector<std::string> lines = JournalLines(run, kind);
                    std::vector<std::string> names;
                    for (const std::string &line : lines) names.push_back(line.substr(0, line.find(' ')));
                    if (names != functions) run.Fail("the journal differs:" + Joined(lines));
                }};
}

Step SearchesClosed(int kind) {
    return Step{"every search on mock " + std::to_string(kind) + " was closed", [kind](CaseRun &run) {
                    std::vector<std::string> lines = JournalLines(run, kind);
                    bool open = false;
                    int searches = 0;
                    for (const std::string &line : lines) {
                        std::string name = line.substr(0, line.find(' '));
                        if (name == "C_FindObjectsInit") {
                            if (open) run.Fail("a search began while another was open");
                            open = true;
                            ++searches;
                        } else if (name == "C_FindObjectsFinal") {
                            if (!open) run.Fail("C_FindObjectsFinal without a search");
                            open = false;
                        }
                    }
                    if (open) run.Fail("a search was left open");
                    if (searches == 0) run.Fail("no search was made");
                    if (run.Failed()) run.Fail("the journal:" + Joined(lines));
                }};
}

Step StateHas(int kind, std::int64_t slot, const std::string &text) {
    std::string command = "state " + std::to_string(slot);
    return Step{"mock " + std::to_string(kind) + " " + command + " has \"" + text + "\"",
                [kind, command, text](CaseRun &run) {
                    std::string reply;
                    if (!MockReply(run, kind, command, reply)) return;
                    std::string wanted = run.Expand(text);
                    if (reply.find(wanted) == std::string::npos)
                        run.Fail("state is \"" + reply + "\", expected it to contain \"" + wanted + "\"");
                }};
}

Step IntsAre(const std::string &array, const std::vector<jint> &ints) {
    return Step{array + " holds " + IntsText(ints), [array, ints](CaseRun &run) {
                    jobject object = run.Named(array);
                    if (object == nullptr) return;
                    std::vector<jint> actual = run.jvm.IntsOf(object);
                    if (actual != ints) run.Fail(array + " holds " + IntsText(actual) + ", expected " + IntsText(ints));
                }};
}

Step BytesHexAre(const std::string &array, const std::string &hex) {
    return Step{array + " holds " + hex, [array, hex](CaseRun &run) {
                    jobject object = run.Named(array);
                    if (object == nullptr) return;
                    std::string actual = HexOf(run.jvm.BytesOf(object));
                    std::string expected = run.Expand(hex);
                    if (actual != expected) run.Fail(array + " holds " + actual + ", expected " + expected);
                }};
}

Step SaveHex(const std::string &array, const std::string &name) {
    return Step{"keep " + array + " as ${" + name + "}", [array, name](CaseRun &run) {
                    jobject object = run.Named(array);
                    if (object != nullptr) run.saved[name] = HexOf(run.jvm.BytesOf(object));
                }};
}

Step AtOnce(int threads, int rounds, std::vector<Step> steps) {
    std::string description = std::to_string(threads) + " threads at once, " + std::to_string(rounds) + " rounds of";
    for (const Step &step : steps) description += "\n        " + step.description;
    return Step{description, [threads, rounds, steps](CaseRun &run) {
                    std::vector<std::unique_ptr<CaseRun>> runs;
                    for (int t = 0; t < threads; ++t) {
                        runs.push_back(std::make_unique<CaseRun>(run.exports, run.mocks));
                        runs.back()->saved = run.saved;
                    }
                    std::vector<std::thread> workers;
                    for (int t = 0; t < threads; ++t) {
                        workers.emplace_back([&, t] {
                            CaseRun &mine = *runs[static_cast<std::size_t>(t)];
                            for (int round = 0; round < rounds && !mine.Failed(); ++round) {
                                for (std::size_t i = 0; i < steps.size() && !mine.Failed(); ++i) {
                                    const Step &step = steps[i];
                                    step.run(mine);
                                    if (mine.Failed()) {
                                        mine.Fail("thread " + std::to_string(t) + ", round " + std::to_string(round) +
                                                  ", at " + step.description);
                                    }
                                }
                            }
                        });
                    }
                    for (std::thread &worker : workers) worker.join();
                    for (const auto &mine : runs) {
                        for (const std::string &failure : mine->failures) run.Fail(failure);
                    }
                }};
}

Step SameBytes(const std::string &array, const std::string &other) {
    return Step{array + " holds what " + other + " holds", [array, other](CaseRun &run) {
                    jobject first = run.Named(array);
                    jobject second = run.Named(other);
                    if (first == nullptr || second == nullptr) return;
                    std::string a = HexOf(run.jvm.BytesOf(first));
                    std::string b = HexOf(run.jvm.BytesOf(second));
                    if (a != b) run.Fail(array + " holds " + a + ", " + other + " holds " + b);
                }};
}

Step ByteArraysHexAre(const std::string &array, const std::vector<std::string> &hex) {
    std::string list;
    for (const std::string &element : hex) list += (list.empty() ? "" : ", ") + element;
    return Step{array + " holds {" + list + "}", [array, hex, list](CaseRun &run) {
                    jobject object = run.Named(array);
                    if (object == nullptr) return;
                    std::string actual;
                    std::vector<std::string> elements;
                    for (const std::vector<jbyte> &element : run.jvm.ByteArraysOf(object)) {
                        elements.push_back(HexOf(element));
                        actual += (actual.empty() ? "" : ", ") + elements.back();
                    }
                    if (elements != hex) run.Fail(array + " holds {" + actual + "}, expected {" + list + "}");
                }};
}

Step BytesAre(const std::string &array, const std::string &text) {
    std::vector<jbyte> bytes(text.begin(), text.end());
    return BytesHexAre(array, HexOf(bytes));
}

Step GivenBack(const std::string &array, Release how) {
    return Step{array + " was " + ReleaseName(how), [array, how](CaseRun &run) {
                    jobject object = run.Named(array);
                    if (object == nullptr) return;
                    const GiveBackRecord &record = run.jvm.GiveBack(object);
                    std::string modes;
                    for (jint mode : record.modes) modes += (modes.empty() ? "" : ", ") + std::to_string(mode);
                    std::string seen = "taken " + std::to_string(record.taken) + " time(s), refused " +
                                       std::to_string(record.refused) + ", release modes [" + modes + "]" +
                                       (record.lastCopyWasZero ? ", last copy all zeros" : "") + ", regions read " +
                                       std::to_string(record.regionsRead) + ", written " +
                                       std::to_string(record.regionsWritten);
                    auto all = [&](jint mode) {
                        return std::all_of(record.modes.begin(), record.modes.end(),
                                           [mode](jint m) { return m == mode; });
                    };
                    // Elements taken and released with the one mode; or (small
                    // arrays) copied out of the array, and back only in mode
                    // 0; or (a result in element 0) only written.
                    auto released = [&](jint mode) {
                        bool elements = record.taken > 0 && static_cast<int>(record.modes.size()) == record.taken &&
                                        all(mode) && record.regionsRead == 0;
                        bool staged = record.taken == 0 && record.modes.empty() && record.regionsRead > 0 &&
                                      record.regionsWritten == (mode == 0 ? record.regionsRead : 0);
                        bool written = mode == 0 && record.taken == 0 && record.modes.empty() &&
                                       record.regionsRead == 0 && record.regionsWritten > 0;
                        return elements || staged || written;
                    };
                    bool ok = false;
                    switch (how) {
                    case Release::kCopyBack: ok = released(0); break;
                    case Release::kDiscard: ok = released(JNI_ABORT); break;
                    case Release::kWipedDiscard:
                        // A staged copy lives in the library and is wiped there;
                        // a copy from the JVM must come back as zeros.
                        ok = released(JNI_ABORT) && (record.taken == 0 || record.lastCopyWasZero);
                        break;
                    case Release::kNeverTaken:
                        ok = record.taken == 0 && record.refused == 0 && record.modes.empty() &&
                             record.regionsRead == 0 && record.regionsWritten == 0;
                        break;
                    case Release::kRefusedOnly: ok = record.taken == 0 && record.refused > 0 && record.modes.empty(); break;
                    }
                    if (!ok) run.Fail(array + ": expected " + ReleaseName(how) + "; " + seen);
                }};
}

Step SaveBytes(const std::string &array, const std::string &path, jint length) {
    return Step{"save " + array + " as " + path, [array, path, length](CaseRun &run) {
                    jobject object = run.Named(array);
                    std::string target = run.FilePath(path);
                    if (object == nullptr || target.empty()) return;
                    std::vector<jbyte> bytes = run.jvm.BytesOf(object);
                    if (length >= 0) {
                        if (static_cast<std::size_t>(length) > bytes.size()) {
                            run.Fail(array + " holds " + std::to_string(bytes.size()) + " octets, not " +
                                     std::to_string(length));
                            return;
                        }
                        bytes.resize(static_cast<std::size_t>(length));
                    }
                    std::ofstream out(target, std::ios::binary | std::ios::trunc);
                    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                    out.close();
                    if (!out) run.Fail("cannot write " + target);
                }};
}

// --- case tables and the runner ---

CaseTable::CaseTable(const char *areaName, std::vector<Case> areaCases, Run when)
    : area(areaName), cases(std::move(areaCases)), run(when) {
    All().push_back(this);
}

std::vector<const CaseTable *> &CaseTable::All() {
    static std::vector<const CaseTable *> tables;
    return tables;
}

std::string CaseRun::Expand(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t start = text.find("${", i);
        if (start == std::string::npos) {
            out += text.substr(i);
            break;
        }
        std::size_t end = text.find('}', start);
        if (end == std::string::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, start - i);
        std::string name = text.substr(start + 2, end - start - 2);
        auto found = saved.find(name);
        if (found == saved.end()) {
            Fail("row error: nothing saved as " + name);
        } else {
            out += found->second;
        }
        i = end + 1;
    }
    return out;
}

jobject CaseRun::Named(const std::string &name) {
    auto found = arrays.find(name);
    if (found == arrays.end()) {
        Fail("row error: no argument is named " + name);
        return nullptr;
    }
    return found->second;
}

std::string CaseRun::FilePath(const std::string &path) {
    if (exports.files.empty()) {
        Fail("row error: the case needs files, and the harness was given no --files folder");
        return "";
    }
    // The folder's own separator: Windows paths under Wine use backslashes.
    char separator = exports.files.find('\\') != std::string::npos ? '\\' : '/';
    std::string relative = path;
    if (separator != '/') std::replace(relative.begin(), relative.end(), '/', separator);
    return exports.files + separator + relative;
}

bool Mocks::Control(int kind, const std::string &commands, std::string &reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (kind < 0 || kind > 4) {
        reply = "no mock for kind " + std::to_string(kind);
        return false;
    }
    if (controls_[kind] == nullptr) {
        std::string error;
        std::string name = kModuleFileNames[kind];
        if (!mockFiles_.empty()) {
            char separator = mockFiles_.find('\\') != std::string::npos ? '\\' : '/';
            name = mockFiles_ + separator + "mock-" + std::to_string(kind) + ".dll";
        }
        void *library = OpenLibrary(name, error);
        if (library == nullptr) {
            reply = "cannot open " + name + ": " + error;
            return false;
        }
        controls_[kind] = reinterpret_cast<ControlFunction>(FindExport(library, "MockControl"));
        if (controls_[kind] == nullptr) {
            reply = std::string(kModuleFileNames[kind]) + " is not a mock module (no MockControl)";
            return false;
        }
    }
    std::vector<char> buffer(1 << 20);
    int result = controls_[kind](commands.c_str(), buffer.data(), static_cast<unsigned long>(buffer.size()));
    reply = buffer.data();
    if (result == 1) reply = "reply too long";
    return result == 0;
}

int RunCases(const Exports &exports, const std::string &filter) {
    std::vector<const CaseTable *> tables = CaseTable::All();
    std::stable_sort(tables.begin(), tables.end(),
                     [](const CaseTable *a, const CaseTable *b) { return std::string(a->area) < b->area; });
    Mocks mocks(exports.mockFiles);
    int run = 0;
    int failed = 0;
    for (const CaseTable *table : tables) {
        if (table->run == CaseTable::Run::kWhenNamed && filter.empty()) continue;
        for (const Case &testCase : table->cases) {
            std::string title = std::string(table->area) + ": " + testCase.name;
            if (title.find(filter) == std::string::npos) continue;
            ++run;
            CaseRun caseRun(exports, mocks);
            std::size_t stepNumber = 0;
            std::string failedStep;
            for (const Step &step : testCase.steps) {
                ++stepNumber;
                step.run(caseRun);
                if (caseRun.Failed()) {
                    failedStep = "step " + std::to_string(stepNumber) + ", " + step.description;
                    break;
                }
            }
            if (caseRun.Failed()) {
                ++failed;
                std::printf("[FAIL] %s\n    at %s\n", title.c_str(), failedStep.c_str());
                for (const std::string &failure : caseRun.failures) std::printf("    - %s\n", failure.c_str());
            } else {
                std::printf("[ OK ] %s (%u steps)\n", title.c_str(), static_cast<unsigned>(testCase.steps.size()));
            }
            std::fflush(stdout);
        }
    }
    std::printf("%d case(s) run, %d failed\n", run, failed);
    if (run == 0) {
        std::printf("no case matches \"%s\"\n", filter.c_str());
        return 1;
    }
    return failed;
}

std::vector<MethodName> MethodNames() {
    std::vector<MethodName> names;
    for (const MethodInfo &method : Methods()) names.push_back({method.name, method.argumentBytes});
    return names;
}

}  // namespace harness
