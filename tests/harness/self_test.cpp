// The fake JVM's own checks: each misuse it must catch is made on purpose,
// and each correct use must pass unreported, so that a clean harness run
// means the library gave everything back.
#include "case_run.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace harness {
namespace {

bool Mentions(const std::vector<std::string> &problems, const std::string &text) {
    for (const std::string &problem : problems) {
        if (problem.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string Listed(const std::vector<std::string> &problems) {
    std::string text;
    for (const std::string &problem : problems) text += "\n      " + problem;
    return text.empty() ? " (none)" : text;
}

struct Check {
    const char *name;
    // Returns the problems reported; sets expected to the text one of them
    // must contain, or leaves it empty when none may be reported.
    std::function<std::vector<std::string>(FakeJvm &, std::string &expected, bool &ok)> run;
};

const std::vector<Check> &Checks() {
    static const std::vector<Check> checks = {
        {"elements never given back are a leak",
         [](FakeJvm &jvm, std::string &expected, bool &) {
             jbyteArray array = jvm.NewCallerBytes({1, 2, 3}, "data");
             jvm.BeginCall();
             jvm.Env()->GetByteArrayElements(array, nullptr);
             expected = "leak: elements of data taken with GetByteArrayElements";
             return jvm.EndCall(nullptr);
         }},
        {"JNI_COMMIT alone leaves the elements taken",
         [](FakeJvm &jvm, std::string &expected, bool &ok) {
             jintArray array = jvm.NewCallerInts({0}, "count");
             jvm.BeginCall();
             jint *ints = jvm.Env()->GetIntArrayElements(array, nullptr);
             ints[0] = 7;
             jvm.Env()->ReleaseIntArrayElements(array, ints, JNI_COMMIT);
             ok = jvm.IntsOf(array) == std::vector<jint>{7};
             expected = "leak: elements of count taken with GetIntArrayElements";
             return jvm.EndCall(nullptr);
         }},
        {"elements given back twice",
         [](FakeJvm &jvm, std::string &expected, bool &) {
             jintArray array = jvm.NewCallerInts({1}, "count");
             jvm.BeginCall();
             jint *ints = jvm.Env()->GetIntArrayElements(array, nullptr);
             jvm.Env()->ReleaseIntArrayElements(array, ints, 0);
             jvm.Env()->ReleaseIntArrayElements(array, ints, 0);
             expected = "given back twice";
             return jvm.EndCall(nullptr);
         }},
        {"elements given back to another array",
         [](FakeJvm &jvm, std::string &expected, bool &) {
             jbyteArray first = jvm.NewCallerBytes({1}, "first");
             jbyteArray second = jvm.NewCallerBytes({2}, "second");
             jvm.BeginCall();
             jbyte *bytes = jvm.Env()->GetByteArrayElements(first, nullptr);
             jvm.Env()->ReleaseByteArrayElements(second, bytes, JNI_ABORT);
             jvm.Env()->ReleaseByteArrayElements(first, bytes, JNI_ABORT);
             expected = "elements of first given back to second";
             return jvm.EndCall(nullptr);
         }},
        {"a write past the end of the elements",
         [](FakeJvm &jvm, std::string &expected, bool &) {
             jbyteArray array = jvm.NewCallerBytes({1, 2}, "signature");
             jvm.BeginCall();
             jbyte *bytes = jvm.Env()->GetByteArrayElements(array, nullptr);
             bytes[2] = 9;
             jvm.Env()->ReleaseByteArrayElements(array, bytes, 0);
             expected = "wrote past the end of signature";
             return jvm.EndCall(nullptr);
         }},
        {"mode 0 copies back, JNI_ABORT does not, and both end the loan",
         [](FakeJvm &jvm, std::string &, bool &ok) {
             jbyteArray written = jvm.NewCallerBytes({1, 2}, "written");
             jbyteArray discarded = jvm.NewCallerBytes({1, 2}, "discarded");
             jvm.BeginCall();
             jbyte *a = jvm.Env()->GetByteArrayElements(written, nullptr);
             jbyte *b = jvm.Env()->GetByteArrayElements(discarded, nullptr);
             a[0] = b[0] = 5;
             b[1] = 0;
             b[0] = 0;
             jvm.Env()->ReleaseByteArrayElements(written, a, 0);
             jvm.Env()->ReleaseByteArrayElements(discarded, b, JNI_ABORT);
             ok = jvm.BytesOf(written) == std::vector<jbyte>{5, 2} && jvm.BytesOf(discarded) == std::vector<jbyte>{1, 2} &&
                  jvm.GiveBack(discarded).lastCopyWasZero && !jvm.GiveBack(written).lastCopyWasZero &&
                  jvm.GiveBack(discarded).modes == std::vector<jint>{JNI_ABORT};
             return jvm.EndCall(nullptr);
         }},
        {"a local reference never deleted is a leak; a deleted one is not",
         [](FakeJvm &jvm, std::string &expected, bool &) {
             jobjectArray array = jvm.NewCallerByteArrays({std::vector<jbyte>{1}, std::vector<jbyte>{2}}, "serials");
             jvm.BeginCall();
             jobject kept = jvm.Env()->GetObjectArrayElement(array, 0);
             jobject deleted = jvm.Env()->GetObjectArrayElement(array, 1);
             jvm.Env()->DeleteLocalRef(deleted);
             (void)kept;
             expected = "leak: local reference to serials[0] made by GetObjectArrayElement";
             std::vector<std::string> problems = jvm.EndCall(nullptr);
             if (Mentions(problems, "serials[1]")) problems.push_back("unexpected: serials[1] reported");
             return problems;
         }},
        {"a reference used after DeleteLocalRef",
         [](FakeJvm &jvm, std::string &expected, bool &) {
             jobjectArray array = jvm.NewCallerByteArrays({std::vector<jbyte>{1}}, "serials");
             jvm.BeginCall();
             jobject element = jvm.Env()->GetObjectArrayElement(array, 0);
             jvm.Env()->DeleteLocalRef(element);
             jvm.Env()->GetArrayLength(static_cast<jarray>(element));
             expected = "reference used after DeleteLocalRef";
             return jvm.EndCall(nullptr);
         }},
        {"the returned reference belongs to the caller",
         [](FakeJvm &jvm, std::string &, bool &ok) {
             jvm.BeginCall();
             jstring text = jvm.Env()->NewStringUTF("1001");
             std::vector<std::string> problems = jvm.EndCall(text);
             ok = jvm.TextOf(text) == "1001";
             return problems;
         }},
        {"NewStringUTF refuses bytes that are not modified UTF-8",
         [](FakeJvm &jvm, std::string &expected, bool &ok) {
             jvm.BeginCall();
             jstring bad = jvm.Env()->NewStringUTF("ab\xff");
             jstring nul = jvm.Env()->NewStringUTF("\xc0\x80");
             ok = bad == nullptr && nul != nullptr && jvm.TextOf(nul) == std::string(1, '\0');
             expected = "NewStringUTF: bytes that are not modified UTF-8: 6162ff";
             std::vector<std::string> problems = jvm.EndCall(nullptr);
             return problems;
         }},
        {"a refused request leaves OutOfMemoryError pending; calls with it pending are misuse",
         [](FakeJvm &jvm, std::string &expected, bool &ok) {
             jbyteArray pin = jvm.NewCallerBytes({1, 2}, "pin");
             jvm.RefuseElements(pin);
             jvm.BeginCall();
             ok = jvm.Env()->GetByteArrayElements(pin, nullptr) == nullptr && jvm.Env()->ExceptionCheck() &&
                  jvm.GiveBack(pin).refused == 1;
             jvm.Env()->GetArrayLength(pin);
             expected = "GetArrayLength called with java.lang.OutOfMemoryError pending";
             std::vector<std::string> problems = jvm.EndCall(nullptr);
             if (!Mentions(problems, "returned with java.lang.OutOfMemoryError pending"))
                 problems.push_back("unexpected: the pending exception at return was not reported");
             return problems;
         }},
        {"an exception cleared before return is no problem",
         [](FakeJvm &jvm, std::string &, bool &ok) {
             jbyteArray pin = jvm.NewCallerBytes({1}, "pin");
             jvm.RefuseElements(pin);
             jvm.BeginCall();
             jvm.Env()->GetByteArrayElements(pin, nullptr);
             jvm.Env()->ExceptionClear();
             ok = !jvm.Env()->ExceptionCheck();
             return jvm.EndCall(nullptr);
         }},
        {"UTF characters taken and given back; lengths in modified UTF-8",
         [](FakeJvm &jvm, std::string &, bool &ok) {
             jstring label = jvm.NewCallerString("Zo\xc3\xab", "label");
             jvm.BeginCall();
             const char *chars = jvm.Env()->GetStringUTFChars(label, nullptr);
             ok = std::string(chars) == "Zo\xc3\xab" && jvm.Env()->GetStringUTFLength(label) == 4;
             jvm.Env()->ReleaseStringUTFChars(label, chars);
             return jvm.EndCall(nullptr);
         }},
        {"UTF characters never given back are a leak",
         [](FakeJvm &jvm, std::string &expected, bool &) {
             jstring label = jvm.NewCallerString("x", "label");
             jvm.BeginCall();
             jvm.Env()->GetStringUTFChars(label, nullptr);
             expected = "leak: elements of label taken with GetStringUTFChars";
             return jvm.EndCall(nullptr);
         }},
        {"SetByteArrayRegion outside the array",
         [](FakeJvm &jvm, std::string &expected, bool &ok) {
             jvm.BeginCall();
             jbyteArray array = jvm.Env()->NewByteArray(2);
             const jbyte bytes[3] = {1, 2, 3};
             jvm.Env()->SetByteArrayRegion(array, 0, 2, bytes);
             ok = jvm.BytesOf(array) == std::vector<jbyte>{1, 2};
             jvm.Env()->SetByteArrayRegion(array, 1, 2, bytes);
             expected = "SetByteArrayRegion: region 1+2 outside";
             return jvm.EndCall(array);
         }},
    };
    return checks;
}

}  // namespace

int RunSelfTest() {
    int failed = 0;
    for (const Check &check : Checks()) {
        FakeJvm jvm;
        std::string expected;
        bool ok = true;
        std::vector<std::string> problems = check.run(jvm, expected, ok);
        std::string why;
        if (!ok) why = "the fake JVM's data is wrong";
        if (expected.empty() && !problems.empty()) why = "problems reported for correct use:" + Listed(problems);
        if (!expected.empty() && !Mentions(problems, expected))
            why = "expected a report of \"" + expected + "\"; reported:" + Listed(problems);
        if (!expected.empty() && Mentions(problems, "unexpected:")) why = "reported:" + Listed(problems);
        if (why.empty()) {
            std::printf("[ OK ] %s\n", check.name);
        } else {
            ++failed;
            std::printf("[FAIL] %s\n    %s\n", check.name, why.c_str());
        }
    }
    std::printf("%u self-test check(s), %d failed\n", static_cast<unsigned>(Checks().size()), failed);
    return failed;
}

}  // namespace harness
