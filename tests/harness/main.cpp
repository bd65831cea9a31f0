// The kavro test harness: loads the library (kavro.dll or libkavro.so) the
// way a JVM does, resolves the Java_Brelmont_Kavro_* exports by name (a
// 32-bit DLL's by their decorated names), and runs the case tables against
// the mock modules, found by their bare file names on the platform's library
// search path.
//
//   kavro_harness [--case TEXT] [--files DIR] [--mock-files DIR] LIBRARY
//                                         run the cases whose "area: name" contains TEXT; the
//                                         store cases read and write files in DIR; with
//                                         --mock-files the modules are bridges to the mocks
//                                         mock-0 to mock-3 in DIR
//   kavro_harness --self-test             check that the fake JVM reports each misuse
//   kavro_harness --unprovided-jni        call a JNI function the fake JVM lacks (must abort)
#include "case_run.h"
#include "library.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: kavro_harness [--case TEXT] [--files DIR] [--mock-files DIR] LIBRARY | --self-test | "
                         "--unprovided-jni\n");
    return 2;
}

// Makes the fake JVM trap: the library must never call a JNI function the
// harness does not provide, and if it does the run ends loudly.
int CallUnprovided() {
    harness::FakeJvm jvm;
    jvm.Env()->FindClass("java/lang/String");
    std::printf("FindClass returned\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string filter;
    std::string libraryPath;
    std::string files;
    std::string mockFiles;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--self-test") == 0) return harness::RunSelfTest() == 0 ? 0 : 1;
        if (std::strcmp(argv[i], "--unprovided-jni") == 0) return CallUnprovided();
        if (std::strcmp(argv[i], "--case") == 0 && i + 1 < argc) {
            filter = argv[++i];
        } else if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            files = argv[++i];
        } else if (std::strcmp(argv[i], "--mock-files") == 0 && i + 1 < argc) {
            mockFiles = argv[++i];
        } else if (libraryPath.empty() && argv[i][0] != '-') {
            libraryPath = argv[i];
        } else {
            return Usage();
        }
    }
    if (libraryPath.empty()) return Usage();

    std::string error;
    void *library = harness::OpenLibrary(libraryPath, error);
    if (library == nullptr) {
        std::printf("cannot load %s: %s\n", libraryPath.c_str(), error.c_str());
        return 2;
    }
    harness::Exports exports;
    exports.library = libraryPath;
    exports.files = files;
    exports.mockFiles = mockFiles;
    // As a 32-bit JVM binds: the decorated name first, then the plain one.
    // Only a 32-bit Windows library has the decorated names.
    std::string missing;
    std::string firstBound;
    int found = 0;
    int decorated = 0;
    for (const harness::MethodName &method : harness::MethodNames()) {
        std::string plain = "Java_Brelmont_Kavro_" + method.name;
        std::string name = "_" + plain + "@" + std::to_string(method.argumentBytes);
        void *address = harness::FindExport(library, name.c_str());
        if (address != nullptr) {
            ++decorated;
        } else {
            name = plain;
            address = harness::FindExport(library, name.c_str());
        }
        exports.methods[method.name] = address;
        if (address != nullptr) {
            ++found;
            if (firstBound.empty()) firstBound = name;
        } else {
            missing += " " + method.name;
        }
    }
    std::printf("%s: %d of %u exports found, %d by decorated names (first bound: %s)%s%s\n", libraryPath.c_str(),
                found, static_cast<unsigned>(exports.methods.size()), decorated,
                firstBound.empty() ? "none" : firstBound.c_str(), missing.empty() ? "" : "; missing:",
                missing.c_str());
    int failed = harness::RunCases(exports, filter);
    return failed == 0 ? 0 : 1;
}
