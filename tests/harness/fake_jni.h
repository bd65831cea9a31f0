// A JNI environment of our own, for running kavro's exports outside a JVM
// (on Linux, and as a Windows program under Wine). It provides the JNI
// functions the library uses, checks every use more strictly than
// -Xcheck:jni, and reports at the end of each call what the library took
// and never gave back. Any other JNI function aborts the program, naming it.
#ifndef KAVRO_HARNESS_FAKE_JNI_H
#define KAVRO_HARNESS_FAKE_JNI_H

#include <jni.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harness {

// What the library did with one array's or string's elements.
struct GiveBackRecord {
    int taken = 0;              // Get<Type>ArrayElements / GetStringUTFChars that returned elements
    int refused = 0;            // requests answered with null (RefuseElements)
    std::vector<jint> modes;    // the mode of every Release call, in order
    bool lastCopyWasZero = false;  // the elements held only zeros when last given back
    int regionsRead = 0;        // Get<Type>ArrayRegion calls: elements copied out of the array
    int regionsWritten = 0;     // Set<Type>ArrayRegion calls: elements copied into the array
};

class FakeJvm {
public:
    FakeJvm();
    ~FakeJvm();
    FakeJvm(const FakeJvm &) = delete;
    FakeJvm &operator=(const FakeJvm &) = delete;

    JNIEnv *Env();
    jclass KavroClass();

    // Objects as the Java caller holds them: the library may use them for
    // the call but does not own the references. The label names the object
    // in reports.
    jbyteArray NewCallerBytes(const std::vector<jbyte> &bytes, const std::string &label);
    jintArray NewCallerInts(const std::vector<jint> &ints, const std::string &label);
    // Elements that are absent (std::nullopt) are null references.
    jobjectArray NewCallerByteArrays(const std::vector<std::optional<std::vector<jbyte>>> &elements,
                                     const std::string &label);
    jstring NewCallerString(const std::string &utf8, const std::string &label);

    // What the caller sees in an object after the call.
    std::vector<jbyte> BytesOf(jobject array) const;
    std::vector<jint> IntsOf(jobject array) const;
    std::vector<std::vector<jbyte>> ByteArraysOf(jobject array) const;
    std::string TextOf(jobject string) const;  // standard UTF-8
    bool IsByteArray(jobject object) const;
    bool IsString(jobject object) const;

    // From now on the JVM cannot provide this array's or string's elements:
    // requests answer null with an OutOfMemoryError pending.
    void RefuseElements(jobject object);
    const GiveBackRecord &GiveBack(jobject object) const;

    // Brackets one native call. EndCall hands the returned reference to the
    // caller and returns every problem seen since BeginCall: misuse (double
    // release, bad modes, writes past the end, calls with an exception
    // pending, invalid references) and leaks (elements never given back,
    // local references never deleted, an exception left pending).
    void BeginCall();
    std::vector<std::string> EndCall(jobject result);

    // Problems seen outside a call (for the self-test).
    std::vector<std::string> TakeProblems();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace harness

#endif  // KAVRO_HARNESS_FAKE_JNI_H
