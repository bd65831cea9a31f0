// What a running case works with: the library's exports, the mock modules,
// a fresh fake JVM, the values it saved and the arrays it named.
#ifndef KAVRO_HARNESS_CASE_RUN_H
#define KAVRO_HARNESS_CASE_RUN_H

#include "fake_jni.h"
#include "harness.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace harness {

// The library under test and the addresses of its exports (null when missing).
struct Exports {
    std::string library;
    std::map<std::string, void *> methods;  // by short name, for example "Login"
    std::string files;                      // the files folder (--files), or empty
    std::string mockFiles;                  // the mocks' own files (--mock-files), or empty
};

// The mock modules, opened by their bare file names through the same
// loader search the library uses, so both reach the same loaded instance.
// Where the library reaches them through the module bridge (--mock-files),
// the mock of kind K is the file mock-K beside the others, opened by that
// path, which the bridge's configuration names too.
class Mocks {
public:
    explicit Mocks(std::string mockFiles) : mockFiles_(std::move(mockFiles)) {}
    // Runs commands on the kind's mock; false with the reason in reply.
    bool Control(int kind, const std::string &commands, std::string &reply);

private:
    using ControlFunction = int (*)(const char *commands, char *reply, unsigned long replySize);
    std::mutex mutex_;
    ControlFunction controls_[5] = {};
    std::string mockFiles_;
};

class CaseRun {
public:
    CaseRun(const Exports &exports, Mocks &mocks) : exports(exports), mocks(mocks) {}

    void Fail(const std::string &message) { failures.push_back(message); }
    bool Failed() const { return !failures.empty(); }
    // Replaces ${name} with the saved value.
    std::string Expand(const std::string &text);
    // The caller's array named in an argument; null (and the case failed) when none is.
    jobject Named(const std::string &name);
    // A file of the files folder, in the platform's form; empty (and the
    // case failed) when the harness was given no folder.
    std::string FilePath(const std::string &path);

    const Exports &exports;
    Mocks &mocks;
    FakeJvm jvm;
    std::map<std::string, std::string> saved;
    std::map<std::string, jobject> arrays;
    std::vector<std::string> failures;
};

// Runs the registered cases whose "area: name" contains filter; prints one
// line per case and the reasons of each failure. Returns the failures.
int RunCases(const Exports &exports, const std::string &filter);

// The 27 methods in the order of Brelmont.Kavro: the short name, and the
// argument bytes of the 32-bit __stdcall function that N of its decorated
// export _Java_Brelmont_Kavro_X@N names.
struct MethodName {
    std::string name;
    std::size_t argumentBytes;
};
std::vector<MethodName> MethodNames();

// The fake JVM's own checks: each misuse it must report, made on purpose.
int RunSelfTest();

}  // namespace harness

#endif  // KAVRO_HARNESS_CASE_RUN_H
