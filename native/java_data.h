// Guards for the Java data an entry point takes: the elements of a byte[]
// or int[], one element of a byte[][], and the characters of a String. Each
// guard gives its data back exactly once, with its mode, on every path.
#ifndef KAVRO_NATIVE_JAVA_DATA_H
#define KAVRO_NATIVE_JAVA_DATA_H

#include "codec/secret.h"

#include <jni.h>

#include <cstddef>
#include <vector>

namespace kavro {

// How elements go back to the JVM. Arrays the library writes are copied
// back; arrays it only reads are discarded (the Java array is unchanged
// either way, and the copy is saved); secret arrays are wiped first when
// the JVM handed out a copy.
enum class GiveBack { kCopyBack, kDiscard, kWipeAndDiscard };

template <typename ArrayType, typename ElementType>
struct ArrayAccess;

template <>
struct ArrayAccess<jbyteArray, jbyte> {
    static jbyte *Get(JNIEnv *env, jbyteArray array, jboolean *isCopy) {
        return env->GetByteArrayElements(array, isCopy);
    }
    static void Release(JNIEnv *env, jbyteArray array, jbyte *elements, jint mode) {
        env->ReleaseByteArrayElements(array, elements, mode);
    }
    static void CopyIn(JNIEnv *env, jbyteArray array, jsize length, jbyte *to) {
        env->GetByteArrayRegion(array, 0, length, to);
    }
    static void CopyOut(JNIEnv *env, jbyteArray array, jsize length, const jbyte *from) {
        env->SetByteArrayRegion(array, 0, length, from);
    }
};

template <>
struct ArrayAccess<jintArray, jint> {
    static jint *Get(JNIEnv *env, jintArray array, jboolean *isCopy) {
        return env->GetIntArrayElements(array, isCopy);
    }
    static void Release(JNIEnv *env, jintArray array, jint *elements, jint mode) {
        env->ReleaseIntArrayElements(array, elements, mode);
    }
    static void CopyIn(JNIEnv *env, jintArray array, jsize length, jint *to) {
        env->GetIntArrayRegion(array, 0, length, to);
    }
    static void CopyOut(JNIEnv *env, jintArray array, jsize length, const jint *from) {
        env->SetIntArrayRegion(array, 0, length, from);
    }
};

// The elements of one Java array, taken at construction when the array is
// not null. Unavailable() tells that the array was given but the JVM could
// not provide its elements; nothing is given back for it then.
//
// A small array (up to 512 bytes) is copied into the guard itself with
// Get<Type>ArrayRegion and, when it is copied back, returned whole with
// Set<Type>ArrayRegion: the Java array ends as it would with the elements
// taken and released in mode 0, without the JVM allocating a copy on the C
// heap for each call. Larger arrays are taken with Get<Type>ArrayElements.
template <typename ArrayType, typename ElementType>
class JavaArray {
public:
    JavaArray(JNIEnv *env, ArrayType array, GiveBack mode) : env_(env), array_(array), mode_(mode) {
        if (array_ == nullptr) {
            return;
        }
        length_ = env_->GetArrayLength(array_);
        if (length_ <= kStagedElements) {
            ArrayAccess<ArrayType, ElementType>::CopyIn(env_, array_, length_, staged_);
            elements_ = staged_;
            isCopy_ = JNI_TRUE;
            return;
        }
        elements_ = ArrayAccess<ArrayType, ElementType>::Get(env_, array_, &isCopy_);
        if (elements_ == nullptr) {
            unavailable_ = true;
            // The JVM raised OutOfMemoryError; results reach Java as codes only.
            if (env_->ExceptionCheck()) {
                env_->ExceptionClear();
            }
        }
    }

    JavaArray(const JavaArray &) = delete;
    JavaArray &operator=(const JavaArray &) = delete;

    ~JavaArray() noexcept { Release(); }

    bool Held() const { return elements_ != nullptr; }
    bool Unavailable() const { return unavailable_; }
    ElementType *Elements() const { return elements_; }
    jsize Length() const { return length_; }

    // True when the array is held and length counts no more than it holds.
    bool Fits(jint length) const { return Held() && length >= 0 && length <= length_; }
    // True when the array is held and has an element 0 to receive a value.
    bool HasFirst() const { return Held() && length_ >= 1; }

    void Release() noexcept {
        if (elements_ == nullptr) {
            return;
        }
        if (elements_ == staged_) {
            if (mode_ == GiveBack::kCopyBack) {
                ArrayAccess<ArrayType, ElementType>::CopyOut(env_, array_, length_, staged_);
            } else if (mode_ == GiveBack::kWipeAndDiscard) {
                Wipe(staged_, static_cast<std::size_t>(length_) * sizeof(ElementType));
            }
            elements_ = nullptr;
            return;
        }
        jint mode = 0;
        if (mode_ == GiveBack::kWipeAndDiscard) {
            if (isCopy_) {
                Wipe(elements_, static_cast<std::size_t>(length_) * sizeof(ElementType));
            }
            mode = JNI_ABORT;
        } else if (mode_ == GiveBack::kDiscard) {
            mode = JNI_ABORT;
        }
        ArrayAccess<ArrayType, ElementType>::Release(env_, array_, elements_, mode);
        elements_ = nullptr;
    }

private:
    static constexpr jsize kStagedElements = static_cast<jsize>(512 / sizeof(ElementType));

    JNIEnv *env_;
    ArrayType array_;
    GiveBack mode_;
    ElementType staged_[kStagedElements];
    ElementType *elements_ = nullptr;
    jsize length_ = 0;
    jboolean isCopy_ = JNI_FALSE;
    bool unavailable_ = false;
};

using JavaBytes = JavaArray<jbyteArray, jbyte>;
using JavaInts = JavaArray<jintArray, jint>;

// A byte[]'s elements as the octets the token code takes.
inline const unsigned char *Octets(const JavaBytes &bytes) {
    return reinterpret_cast<const unsigned char *>(bytes.Elements());
}
inline unsigned char *WritableOctets(const JavaBytes &bytes) {
    return reinterpret_cast<unsigned char *>(bytes.Elements());
}

// An int[] out-parameter whose element 0 receives one value. The array is
// neither read nor taken: only element 0 is written, with SetIntArrayRegion,
// when the guard is released and only if a value was set, so the Java array
// ends as an element copy released in mode 0 would leave it.
class JavaIntResult {
public:
    JavaIntResult(JNIEnv *env, jintArray array)
        : env_(env), array_(array), length_(array != nullptr ? env->GetArrayLength(array) : 0) {}
    JavaIntResult(const JavaIntResult &) = delete;
    JavaIntResult &operator=(const JavaIntResult &) = delete;
    ~JavaIntResult() noexcept { Release(); }

    // True when the array is given and has an element 0.
    bool HasFirst() const { return array_ != nullptr && length_ >= 1; }
    void Set(jint value) {
        value_ = value;
        set_ = true;
    }
    void Release() noexcept {
        if (set_ && HasFirst()) {
            env_->SetIntArrayRegion(array_, 0, 1, &value_);
        }
        set_ = false;
    }

private:
    JNIEnv *env_;
    jintArray array_;
    jsize length_;
    jint value_ = 0;
    bool set_ = false;
};

// One element of a byte[][], as a local reference that is deleted on exit,
// so that loops over many elements stay within the local-reference budget.
class JavaArrayElement {
public:
    JavaArrayElement(JNIEnv *env, jobjectArray array, jsize index)
        : env_(env), element_(static_cast<jbyteArray>(env->GetObjectArrayElement(array, index))) {}
    JavaArrayElement(const JavaArrayElement &) = delete;
    JavaArrayElement &operator=(const JavaArrayElement &) = delete;
    ~JavaArrayElement() noexcept {
        if (element_ != nullptr) {
            env_->DeleteLocalRef(element_);
        }
    }
    jbyteArray Get() const { return element_; }

private:
    JNIEnv *env_;
    jbyteArray element_;
};

// The modified UTF-8 characters of a String, zero-terminated.
class JavaUtfChars {
public:
    JavaUtfChars(JNIEnv *env, jstring text) : env_(env), text_(text) {
        if (text_ == nullptr) {
            return;
        }
        chars_ = env_->GetStringUTFChars(text_, nullptr);
        if (chars_ == nullptr) {
            unavailable_ = true;
            if (env_->ExceptionCheck()) {
                env_->ExceptionClear();
            }
        } else {
            length_ = env_->GetStringUTFLength(text_);
        }
    }
    JavaUtfChars(const JavaUtfChars &) = delete;
    JavaUtfChars &operator=(const JavaUtfChars &) = delete;
    ~JavaUtfChars() noexcept { Release(); }

    bool Held() const { return chars_ != nullptr; }
    bool Unavailable() const { return unavailable_; }
    const char *Chars() const { return chars_; }
    jsize Length() const { return length_; }

    void Release() noexcept {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(text_, chars_);
            chars_ = nullptr;
        }
    }

private:
    JNIEnv *env_;
    jstring text_;
    const char *chars_ = nullptr;
    jsize length_ = 0;
    bool unavailable_ = false;
};

// True when length is a count that fits the array: 0 <= length <= its size.
// A null array fits no length.
bool LengthFits(JNIEnv *env, jarray array, jint length);

// A new byte[] holding bytes, or null when the JVM cannot make it (the
// exception is cleared: results reach Java as values only) or bytes are
// more than a Java array holds.
jbyteArray NewJavaBytes(JNIEnv *env, const std::vector<unsigned char> &bytes);

}  // namespace kavro

#endif  // KAVRO_NATIVE_JAVA_DATA_H
