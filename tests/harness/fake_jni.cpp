// The fake JNI environment: objects, references, pinned elements, and the
// function table whose provided slots check every use.
#include "fake_jni.h"

#include "jni_slots.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

namespace harness {
namespace {

enum class Kind { kByteArray, kIntArray, kObjectArray, kString, kClass };

const char *KindName(Kind kind) {
    switch (kind) {
    case Kind::kByteArray: return "byte[]";
    case Kind::kIntArray: return "int[]";
    case Kind::kObjectArray: return "byte[][]";
    case Kind::kString: return "String";
    case Kind::kClass: return "class";
    }
    return "?";
}

struct Object {
    Kind kind = Kind::kClass;
    std::string label;
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    std::vector<Object *> elements;
    std::u16string chars;
    bool refuseElements = false;
    GiveBackRecord record;
};

enum class Origin { kCaller, kLocal };

struct Ref {
    Object *object = nullptr;
    Origin origin = Origin::kCaller;
    bool live = true;
    std::string madeBy;  // the JNI function that made a local reference
};

// Elements handed to the library: a copy followed by a guard zone that must
// be intact when they come back.
constexpr std::size_t kGuardSize = 32;
constexpr unsigned char kGuardByte = 0xA5;

enum class PinKind { kBytes, kInts, kUtf };

struct Pin {
    Object *object = nullptr;
    PinKind kind = PinKind::kBytes;
    std::size_t dataSize = 0;
    std::unique_ptr<unsigned char[]> storage;
    bool ended = false;
    const char *takenBy = "";
};

std::string Hex(const unsigned char *bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string ModifiedUtf8(const std::u16string &chars) {
    std::string out;
    for (char16_t c : chars) {
        if (c != 0 && c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Decodes modified UTF-8 (no 4-byte forms; NUL only as C0 80). False when
// the bytes are not modified UTF-8.
bool DecodeModifiedUtf8(const unsigned char *bytes, std::u16string &chars) {
    for (std::size_t i = 0; bytes[i] != 0;) {
        unsigned char b = bytes[i];
        if (b < 0x80) {
            chars += static_cast<char16_t>(b);
            i += 1;
        } else if ((b & 0xE0) == 0xC0) {
            if ((bytes[i + 1] & 0xC0) != 0x80) return false;
            char16_t c = static_cast<char16_t>(((b & 0x1F) << 6) | (bytes[i + 1] & 0x3F));
            if (c < 0x80 && c != 0) return false;
            chars += c;
            i += 2;
        } else if ((b & 0xF0) == 0xE0) {
            if ((bytes[i + 1] & 0xC0) != 0x80 || (bytes[i + 2] & 0xC0) != 0x80) return false;
            char16_t c = static_cast<char16_t>(((b & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F));
            if (c < 0x800) return false;
            chars += c;
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

std::u16string FromUtf8(const std::string &text) {
    std::u16string chars;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t c;
        std::size_t n;
        if (b < 0x80) { c = b; n = 1; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; }
        else { c = b & 0x07; n = 4; }
        for (std::size_t k = 1; k < n && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += n;
        if (c >= 0x10000) {
            c -= 0x10000;
            chars += static_cast<char16_t>(0xD800 + (c >> 10));
            chars += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            chars += static_cast<char16_t>(c);
        }
    }
    return chars;
}

std::string ToUtf8(const std::u16string &chars) {
    std::string out;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        char32_t c = chars[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars.size() && chars[i + 1] >= 0xDC00 && chars[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (chars[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The name of every slot, by its index in the table.
constexpr std::size_t kSlotCount = sizeof(JNINativeInterface_) / sizeof(void *);

struct SlotNames {
    const char *names[kSlotCount] = {};
    SlotNames() {
#define KAVRO_SLOT_NAME(name) names[offsetof(JNINativeInterface_, name) / sizeof(void *)] = #name;
        KAVRO_JNI_SLOTS(KAVRO_SLOT_NAME)
#undef KAVRO_SLOT_NAME
    }
};

const char *SlotName(std::size_t index) {
    // Filled once, whichever thread asks first.
    static const SlotNames slots;
    return index < kSlotCount && slots.names[index] != nullptr ? slots.names[index] : "(unnamed slot)";
}

template <std::size_t Index>
void JNICALL Unprovided() {
    std::fprintf(stderr,
                 "\nFATAL: fake JNI: the library called JNIEnv function %s (slot %u), which the harness does not "
                 "provide\n",
                 SlotName(Index), static_cast<unsigned>(Index));
    std::fflush(stderr);
    std::abort();
}

}  // namespace

struct FakeJvm::Impl {
    // The JNIEnv handed to the library; first member, so that the library's
    // JNIEnv pointer leads back here.
    struct Environment {
        JNIEnv env;
        Impl *impl;
    } environment;
    JNINativeInterface_ table{};

    std::vector<std::unique_ptr<Object>> objects;
    std::vector<std::unique_ptr<Ref>> refs;
    std::set<const Ref *> knownRefs;
    std::map<const void *, std::unique_ptr<Pin>> pins;
    std::vector<std::string> problems;
    std::string pendingException;
    jclass kavroClass = nullptr;

    static Impl &Of(JNIEnv *env) { return *reinterpret_cast<Environment *>(env)->impl; }

    void Problem(const std::string &text) { problems.push_back(text); }

    Object *NewObject(Kind kind, const std::string &label) {
        objects.push_back(std::make_unique<Object>());
        objects.back()->kind = kind;
        objects.back()->label = label;
        return objects.back().get();
    }

    jobject NewRef(Object *object, Origin origin, const char *madeBy) {
        refs.push_back(std::make_unique<Ref>());
        Ref *ref = refs.back().get();
        ref->object = object;
        ref->origin = origin;
        ref->madeBy = madeBy;
        knownRefs.insert(ref);
        return reinterpret_cast<jobject>(ref);
    }

    Ref *RefOf(jobject handle) const {
        const Ref *ref = reinterpret_cast<const Ref *>(handle);
        return knownRefs.count(ref) != 0 ? const_cast<Ref *>(ref) : nullptr;
    }

    // The object behind a reference the library passes in; null, with a
    // problem noted, when the reference is null, unknown, deleted, or of
    // another kind.
    Object *Use(jobject handle, Kind kind, const char *function) {
        if (handle == nullptr) {
            Problem(std::string(function) + ": null reference (the JVM would crash)");
            return nullptr;
        }
        Ref *ref = RefOf(handle);
        if (ref == nullptr) {
            Problem(std::string(function) + ": not a reference this JVM made");
            return nullptr;
        }
        if (!ref->live) {
            Problem(std::string(function) + ": reference used after DeleteLocalRef");
            return nullptr;
        }
        if (ref->object->kind != kind) {
            Problem(std::string(function) + ": given a " + KindName(ref->object->kind) + " (" + ref->object->label +
                    "), expects a " + KindName(kind));
            return nullptr;
        }
        return ref->object;
    }

    void NoPendingException(const char *function) {
        if (!pendingException.empty()) {
            Problem(std::string(function) + " called with " + pendingException + " pending");
        }
    }

    void *TakeElements(jobject handle, Kind kind, PinKind pinKind, jboolean *isCopy, const char *function) {
        NoPendingException(function);
        Object *object = Use(handle, kind, function);
        if (object == nullptr) return nullptr;
        if (object->refuseElements) {
            ++object->record.refused;
            pendingException = "java.lang.OutOfMemoryError";
            return nullptr;
        }
        auto pin = std::make_unique<Pin>();
        pin->object = object;
        pin->kind = pinKind;
        pin->takenBy = function;
        std::string utf;
        const void *source = nullptr;
        if (pinKind == PinKind::kBytes) {
            pin->dataSize = object->bytes.size();
            source = object->bytes.data();
        } else if (pinKind == PinKind::kInts) {
            pin->dataSize = object->ints.size() * sizeof(jint);
            source = object->ints.data();
        } else {
            utf = ModifiedUtf8(object->chars);
            pin->dataSize = utf.size() + 1;
            source = utf.c_str();
        }
        pin->storage.reset(new unsigned char[pin->dataSize + kGuardSize]);
        if (pin->dataSize != 0) std::memcpy(pin->storage.get(), source, pin->dataSize);
        std::memset(pin->storage.get() + pin->dataSize, kGuardByte, kGuardSize);
        if (isCopy != nullptr) *isCopy = JNI_TRUE;
        ++object->record.taken;
        void *data = pin->storage.get();
        pins[data] = std::move(pin);
        return data;
    }

    void GiveElementsBack(jobject handle, Kind kind, PinKind pinKind, const void *data, jint mode,
                          const char *function) {
        Object *object = Use(handle, kind, function);
        auto found = pins.find(data);
        if (found == pins.end()) {
            Problem(std::string(function) + ": elements that no Get call handed out");
            return;
        }
        Pin &pin = *found->second;
        if (pin.ended) {
            Problem(std::string(function) + ": elements of " + pin.object->label + " given back twice");
            return;
        }
        if (pin.kind != pinKind) {
            Problem(std::string(function) + ": elements of " + pin.object->label + " were taken with " + pin.takenBy);
            return;
        }
        if (object != nullptr && object != pin.object) {
            Problem(std::string(function) + ": elements of " + pin.object->label + " given back to " + object->label);
            return;
        }
        const unsigned char *guard = pin.storage.get() + pin.dataSize;
        if (std::any_of(guard, guard + kGuardSize, [](unsigned char b) { return b != kGuardByte; })) {
            Problem(std::string(function) + ": the library wrote past the end of " + pin.object->label);
        }
        if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT) {
            Problem(std::string(function) + ": invalid mode " + std::to_string(mode));
            return;
        }
        Object &target = *pin.object;
        target.record.modes.push_back(mode);
        target.record.lastCopyWasZero = std::all_of(pin.storage.get(), pin.storage.get() + pin.dataSize,
                                                    [](unsigned char b) { return b == 0; });
        if (mode != JNI_ABORT && pin.dataSize != 0 && pinKind == PinKind::kBytes) {
            std::memcpy(target.bytes.data(), pin.storage.get(), pin.dataSize);
        } else if (mode != JNI_ABORT && pin.dataSize != 0 && pinKind == PinKind::kInts) {
            std::memcpy(target.ints.data(), pin.storage.get(), pin.dataSize);
        }
        if (mode != JNI_COMMIT) pin.ended = true;
    }

    jobject NewLocal(Object *object, const char *madeBy) { return NewRef(object, Origin::kLocal, madeBy); }

    // --- the provided JNI functions ---

    static jsize JNICALL GetArrayLength(JNIEnv *env, jarray array) {
        Impl &jvm = Of(env);
        jvm.NoPendingException("GetArrayLength");
        Ref *ref = jvm.RefOf(array);
        if (array == nullptr || ref == nullptr || !ref->live) {
            jvm.Use(array, Kind::kByteArray, "GetArrayLength");
            return 0;
        }
        const Object &object = *ref->object;
        switch (object.kind) {
        case Kind::kByteArray: return static_cast<jsize>(object.bytes.size());
        case Kind::kIntArray: return static_cast<jsize>(object.ints.size());
        case Kind::kObjectArray: return static_cast<jsize>(object.elements.size());
        default: jvm.Problem("GetArrayLength: given a " + std::string(KindName(object.kind))); return 0;
        }
    }

    static jbyte *JNICALL GetByteArrayElements(JNIEnv *env, jbyteArray array, jboolean *isCopy) {
        return static_cast<jbyte *>(
            Of(env).TakeElements(array, Kind::kByteArray, PinKind::kBytes, isCopy, "GetByteArrayElements"));
    }

    static void JNICALL ReleaseByteArrayElements(JNIEnv *env, jbyteArray array, jbyte *elements, jint mode) {
        Of(env).GiveElementsBack(array, Kind::kByteArray, PinKind::kBytes, elements, mode, "ReleaseByteArrayElements");
    }

    static jint *JNICALL GetIntArrayElements(JNIEnv *env, jintArray array, jboolean *isCopy) {
        return static_cast<jint *>(
            Of(env).TakeElements(array, Kind::kIntArray, PinKind::kInts, isCopy, "GetIntArrayElements"));
    }

    static void JNICALL ReleaseIntArrayElements(JNIEnv *env, jintArray array, jint *elements, jint mode) {
        Of(env).GiveElementsBack(array, Kind::kIntArray, PinKind::kInts, elements, mode, "ReleaseIntArrayElements");
    }

    static jobject JNICALL GetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index) {
        Impl &jvm = Of(env);
        jvm.NoPendingException("GetObjectArrayElement");
        Object *object = jvm.Use(array, Kind::kObjectArray, "GetObjectArrayElement");
        if (object == nullptr) return nullptr;
        if (index < 0 || static_cast<std::size_t>(index) >= object->elements.size()) {
            jvm.Problem("GetObjectArrayElement: index " + std::to_string(index) + " outside " + object->label);
            jvm.pendingException = "java.lang.ArrayIndexOutOfBoundsException";
            return nullptr;
        }
        Object *element = object->elements[static_cast<std::size_t>(index)];
        return element == nullptr ? nullptr : jvm.NewLocal(element, "GetObjectArrayElement");
    }

    static void JNICALL DeleteLocalRef(JNIEnv *env, jobject handle) {
        Impl &jvm = Of(env);
        if (handle == nullptr) return;
        Ref *ref = jvm.RefOf(handle);
        if (ref == nullptr || !ref->live) {
            jvm.Problem(ref == nullptr ? "DeleteLocalRef: not a reference this JVM made"
                                       : "DeleteLocalRef: reference deleted twice");
            return;
        }
        ref->live = false;
    }

    static const char *JNICALL GetStringUTFChars(JNIEnv *env, jstring text, jboolean *isCopy) {
        return static_cast<const char *>(
            Of(env).TakeElements(text, Kind::kString, PinKind::kUtf, isCopy, "GetStringUTFChars"));
    }

    static void JNICALL ReleaseStringUTFChars(JNIEnv *env, jstring text, const char *chars) {
        Of(env).GiveElementsBack(text, Kind::kString, PinKind::kUtf, chars, JNI_ABORT, "ReleaseStringUTFChars");
    }

    static jsize JNICALL GetStringUTFLength(JNIEnv *env, jstring text) {
        Impl &jvm = Of(env);
        jvm.NoPendingException("GetStringUTFLength");
        Object *object = jvm.Use(text, Kind::kString, "GetStringUTFLength");
        return object == nullptr ? 0 : static_cast<jsize>(ModifiedUtf8(object->chars).size());
    }

    static jstring JNICALL NewStringUTF(JNIEnv *env, const char *bytes) {
        Impl &jvm = Of(env);
        jvm.NoPendingException("NewStringUTF");
        if (bytes == nullptr) {
            jvm.Problem("NewStringUTF: null bytes");
            return nullptr;
        }
        std::u16string chars;
        if (!DecodeModifiedUtf8(reinterpret_cast<const unsigned char *>(bytes), chars)) {
            jvm.Problem("NewStringUTF: bytes that are not modified UTF-8: " +
                        Hex(reinterpret_cast<const unsigned char *>(bytes), std::strlen(bytes)));
            return nullptr;
        }
        Object *object = jvm.NewObject(Kind::kString, "String from NewStringUTF");
        object->chars = chars;
        return static_cast<jstring>(jvm.NewLocal(object, "NewStringUTF"));
    }

    static jstring JNICALL NewString(JNIEnv *env, const jchar *chars, jsize length) {
        Impl &jvm = Of(env);
        jvm.NoPendingException("NewString");
        if (length < 0 || (chars == nullptr && length > 0)) {
            jvm.Problem("NewString: invalid characters or length " + std::to_string(length));
            return nullptr;
        }
        Object *object = jvm.NewObject(Kind::kString, "String from NewString");
        object->chars.assign(chars, chars + length);
        return static_cast<jstring>(jvm.NewLocal(object, "NewString"));
    }

    static jbyteArray JNICALL NewByteArray(JNIEnv *env, jsize length) {
        Impl &jvm = Of(env);
        jvm.NoPendingException("NewByteArray");
        if (length < 0) {
            jvm.Problem("NewByteArray: negative length " + std::to_string(length));
            jvm.pendingException = "java.lang.NegativeArraySizeException";
            return nullptr;
        }
        Object *object = jvm.NewObject(Kind::kByteArray, "byte[] from NewByteArray");
        object->bytes.assign(static_cast<std::size_t>(length), 0);
        return static_cast<jbyteArray>(jvm.NewLocal(object, "NewByteArray"));
    }

    // Get/Set<Type>ArrayRegion: copies between an array and a caller's buffer;
    // a region outside the array raises ArrayIndexOutOfBoundsException.
    template <typename Element>
    static void Region(JNIEnv *env, jarray array, Kind kind, jsize start, jsize length, Element *buffer,
                       bool intoArray, const char *name) {
        Impl &jvm = Of(env);
        jvm.NoPendingException(name);
        Object *object = jvm.Use(array, kind, name);
        if (object == nullptr) return;
        Element *data = nullptr;
        std::size_t size = 0;
        if constexpr (sizeof(Element) == sizeof(jbyte)) {
            data = reinterpret_cast<Element *>(object->bytes.data());
            size = object->bytes.size();
        } else {
            data = reinterpret_cast<Element *>(object->ints.data());
            size = object->ints.size();
        }
        if (start < 0 || length < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(length) > size) {
            jvm.Problem(std::string(name) + ": region " + std::to_string(start) + "+" + std::to_string(length) +
                        " outside " + object->label);
            jvm.pendingException = "java.lang.ArrayIndexOutOfBoundsException";
            return;
        }
        ++(intoArray ? object->record.regionsWritten : object->record.regionsRead);
        if (length == 0) return;
        if (intoArray) {
            std::memcpy(data + start, buffer, static_cast<std::size_t>(length) * sizeof(Element));
        } else {
            std::memcpy(buffer, data + start, static_cast<std::size_t>(length) * sizeof(Element));
        }
    }

    static void JNICALL GetByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize length, jbyte *bytes) {
        Region(env, array, Kind::kByteArray, start, length, bytes, false, "GetByteArrayRegion");
    }

    static void JNICALL SetByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize length,
                                           const jbyte *bytes) {
        Region(env, array, Kind::kByteArray, start, length, const_cast<jbyte *>(bytes), true, "SetByteArrayRegion");
    }

    static void JNICALL GetIntArrayRegion(JNIEnv *env, jintArray array, jsize start, jsize length, jint *ints) {
        Region(env, array, Kind::kIntArray, start, length, ints, false, "GetIntArrayRegion");
    }

    static void JNICALL SetIntArrayRegion(JNIEnv *env, jintArray array, jsize start, jsize length,
                                          const jint *ints) {
        Region(env, array, Kind::kIntArray, start, length, const_cast<jint *>(ints), true, "SetIntArrayRegion");
    }

    static jboolean JNICALL ExceptionCheck(JNIEnv *env) {
        return Of(env).pendingException.empty() ? JNI_FALSE : JNI_TRUE;
    }

    static void JNICALL ExceptionClear(JNIEnv *env) { Of(env).pendingException.clear(); }

    void FillTable() {
        // Every slot first traps with its name; then the provided ones.
#define KAVRO_TRAP_SLOT(name) \
    table.name = reinterpret_cast<decltype(table.name)>(&Unprovided<offsetof(JNINativeInterface_, name) / sizeof(void *)>);
        KAVRO_JNI_SLOTS(KAVRO_TRAP_SLOT)
#undef KAVRO_TRAP_SLOT
        table.GetArrayLength = &GetArrayLength;
        table.GetByteArrayElements = &GetByteArrayElements;
        table.ReleaseByteArrayElements = &ReleaseByteArrayElements;
        table.GetIntArrayElements = &GetIntArrayElements;
        table.ReleaseIntArrayElements = &ReleaseIntArrayElements;
        table.GetObjectArrayElement = &GetObjectArrayElement;
        table.DeleteLocalRef = &DeleteLocalRef;
        table.GetStringUTFChars = &GetStringUTFChars;
        table.ReleaseStringUTFChars = &ReleaseStringUTFChars;
        table.GetStringUTFLength = &GetStringUTFLength;
        table.NewStringUTF = &NewStringUTF;
        table.NewString = &NewString;
        table.NewByteArray = &NewByteArray;
        table.GetByteArrayRegion = &GetByteArrayRegion;
        table.SetByteArrayRegion = &SetByteArrayRegion;
        table.GetIntArrayRegion = &GetIntArrayRegion;
        table.SetIntArrayRegion = &SetIntArrayRegion;
        table.ExceptionCheck = &ExceptionCheck;
        table.ExceptionClear = &ExceptionClear;
    }
};

FakeJvm::FakeJvm() : impl_(std::make_unique<Impl>()) {
    static_assert(std::is_standard_layout<Impl::Environment>::value, "the JNIEnv must lead back to its environment");
    impl_->FillTable();
    impl_->environment.env.functions = &impl_->table;
    impl_->environment.impl = impl_.get();
    impl_->kavroClass = static_cast<jclass>(impl_->NewRef(impl_->NewObject(Kind::kClass, "class Brelmont.Kavro"),
                                                          Origin::kCaller, "caller"));
}

FakeJvm::~FakeJvm() = default;

JNIEnv *FakeJvm::Env() { return &impl_->environment.env; }

jclass FakeJvm::KavroClass() { return impl_->kavroClass; }

jbyteArray FakeJvm::NewCallerBytes(const std::vector<jbyte> &bytes, const std::string &label) {
    Object *object = impl_->NewObject(Kind::kByteArray, label);
    object->bytes = bytes;
    return static_cast<jbyteArray>(impl_->NewRef(object, Origin::kCaller, "caller"));
}

jintArray FakeJvm::NewCallerInts(const std::vector<jint> &ints, const std::string &label) {
    Object *object = impl_->NewObject(Kind::kIntArray, label);
    object->ints = ints;
    return static_cast<jintArray>(impl_->NewRef(object, Origin::kCaller, "caller"));
}

jobjectArray FakeJvm::NewCallerByteArrays(const std::vector<std::optional<std::vector<jbyte>>> &elements,
                                          const std::string &label) {
    Object *object = impl_->NewObject(Kind::kObjectArray, label);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        Object *element = nullptr;
        if (elements[i]) {
            element = impl_->NewObject(Kind::kByteArray, label + "[" + std::to_string(i) + "]");
            element->bytes = *elements[i];
        }
        object->elements.push_back(element);
    }
    return static_cast<jobjectArray>(impl_->NewRef(object, Origin::kCaller, "caller"));
}

jstring FakeJvm::NewCallerString(const std::string &utf8, const std::string &label) {
    Object *object = impl_->NewObject(Kind::kString, label);
    object->chars = FromUtf8(utf8);
    return static_cast<jstring>(impl_->NewRef(object, Origin::kCaller, "caller"));
}

std::vector<jbyte> FakeJvm::BytesOf(jobject array) const {
    Ref *ref = impl_->RefOf(array);
    return ref != nullptr ? ref->object->bytes : std::vector<jbyte>();
}

std::vector<jint> FakeJvm::IntsOf(jobject array) const {
    Ref *ref = impl_->RefOf(array);
    return ref != nullptr ? ref->object->ints : std::vector<jint>();
}

std::vector<std::vector<jbyte>> FakeJvm::ByteArraysOf(jobject array) const {
    std::vector<std::vector<jbyte>> arrays;
    Ref *ref = impl_->RefOf(array);
    if (ref == nullptr) return arrays;
    for (const Object *element : ref->object->elements) {
        arrays.push_back(element != nullptr ? element->bytes : std::vector<jbyte>());
    }
    return arrays;
}

std::string FakeJvm::TextOf(jobject string) const {
    Ref *ref = impl_->RefOf(string);
    return ref != nullptr ? ToUtf8(ref->object->chars) : std::string();
}

bool FakeJvm::IsByteArray(jobject object) const {
    Ref *ref = impl_->RefOf(object);
    return ref != nullptr && ref->object->kind == Kind::kByteArray;
}

bool FakeJvm::IsString(jobject object) const {
    Ref *ref = impl_->RefOf(object);
    return ref != nullptr && ref->object->kind == Kind::kString;
}

void FakeJvm::RefuseElements(jobject object) {
    if (Ref *ref = impl_->RefOf(object)) ref->object->refuseElements = true;
}

const GiveBackRecord &FakeJvm::GiveBack(jobject object) const {
    static const GiveBackRecord none;
    Ref *ref = impl_->RefOf(object);
    return ref != nullptr ? ref->object->record : none;
}

void FakeJvm::BeginCall() { impl_->problems.clear(); }

std::vector<std::string> FakeJvm::EndCall(jobject result) {
    Impl &jvm = *impl_;
    if (!jvm.pendingException.empty()) {
        jvm.Problem("returned with " + jvm.pendingException + " pending: it would be thrown into Java");
        jvm.pendingException.clear();
    }
    for (auto &entry : jvm.pins) {
        Pin &pin = *entry.second;
        if (!pin.ended) {
            jvm.Problem("leak: elements of " + pin.object->label + " taken with " + pin.takenBy +
                        " and never given back");
            pin.ended = true;
        }
    }
    Ref *returned = jvm.RefOf(result);
    if (result != nullptr && (returned == nullptr || !returned->live)) {
        jvm.Problem("returned a reference that is invalid or deleted");
    }
    for (auto &ref : jvm.refs) {
        if (ref->origin != Origin::kLocal || !ref->live) continue;
        if (ref.get() == returned) {
            ref->origin = Origin::kCaller;
            continue;
        }
        jvm.Problem("leak: local reference to " + ref->object->label + " made by " + ref->madeBy +
                    " and never deleted");
        ref->live = false;
    }
    return TakeProblems();
}

std::vector<std::string> FakeJvm::TakeProblems() {
    std::vector<std::string> problems;
    problems.swap(impl_->problems);
    return problems;
}

}  // namespace harness
