// Entry points SetSoPin, UnlockUserPin, SetUserPin and InitToken. SO PINs
// arrive as PIN transport texts: Base64 of the PIN zero-padded to whole
// blocks and AES-128 encrypted under the token's 16-character serial. Every
// copy of a PIN or of its decoding is wiped before it leaves scope, and the
// PIN arrays go back without copy-back.
#include "codec/base64.h"
#include "codec/pin_transport.h"
#include "codec/secret.h"
#include "native/java_data.h"
#include "kavro/result_code.h"
#include "native/token_call.h"

#include <jni.h>

#include <cstring>

using namespace kavro;

namespace {

constexpr std::size_t kDecodedSize = 2048;
constexpr std::size_t kSoPinSize = 200;

static_assert(kTokenSerialSize == kTransportKeySize, "the token serial is the transport key");

// A recovered SO PIN and its length.
struct SoPin {
    SecretBytes<kSoPinSize> bytes;
    std::size_t length = 0;
};

// The transport key: the call's own copy of the token serial text, which
// must be exactly 16 characters long.
struct TransportKey {
    SecretBytes<kSerialBufferSize> serial;
};

bool ReadTransportKey(const TokenCall &call, TransportKey &key) {
    const TokenSerial serial = call.Slot().ReadTokenSerial(call.Functions());
    const std::size_t length = serial.Length();
    std::memcpy(key.serial.Data(), serial.text, length);
    return length == kTransportKeySize;
}

// A transport text is the array's bytes up to the first zero byte or the
// array's end, whichever comes first.
std::size_t TransportTextLength(const JavaBytes &text) {
    const auto length = static_cast<std::size_t>(text.Length());
    const void *zero = length == 0 ? nullptr : std::memchr(text.Elements(), 0, length);
    return zero == nullptr ? length
                           : static_cast<std::size_t>(static_cast<const jbyte *>(zero) - text.Elements());
}

// Base64-decodes a transport text into decoded (cleared first) and
// decrypts it into pin. Returns 0, or the decoder's or decryptor's result.
int RecoverSoPin(const JavaBytes &text, const TransportKey &key, SecretBytes<kDecodedSize> &decoded, SoPin &pin) {
    decoded.Clear();
    std::size_t decodedLength = 0;
    int result = Base64Decode(Octets(text), TransportTextLength(text), decoded.Data(), decoded.Capacity(),
                              &decodedLength);
    if (result != kOk) {
        return result;
    }
    return DecryptPin(key.serial.Data(), decoded.Data(), decodedLength, pin.bytes.Data(), pin.bytes.Capacity(),
                      &pin.length);
}

CK_ULONG Length(const JavaBytes &array) { return static_cast<CK_ULONG>(array.Length()); }

// What UnlockUserPin and InitToken share: the transport key read, the SO
// PIN's text and a plain PIN taken, the SO PIN recovered. kOk with pin set,
// or the result to answer.
int TakeSoPinAndPin(TokenCall &call, jbyteArray jSoPinText, jbyteArray jPin, SoPin &soPin, JavaBytes *&pin) {
    TransportKey key;
    if (!ReadTransportKey(call, key)) {
        return kNoTokenSerial;
    }
    JavaBytes &soPinText = call.Bytes(jSoPinText, GiveBack::kWipeAndDiscard);
    pin = &call.Bytes(jPin, GiveBack::kWipeAndDiscard);
    if (soPinText.Unavailable() || pin->Unavailable()) {
        return kBadArgument;
    }
    SecretBytes<kDecodedSize> decoded;
    return RecoverSoPin(soPinText, key, decoded, soPin);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_SetSoPin(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                    jbyteArray jOldSoPin, jbyteArray jNewSoPin) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, SlotUse::kAlone, [&](TokenCall &call) -> jint {
        if (jOldSoPin == nullptr || jNewSoPin == nullptr) {
            return kBadArgument;
        }
        TransportKey key;
        if (!ReadTransportKey(call, key)) {
            return kNoTokenSerial;
        }
        JavaBytes &oldText = call.Bytes(jOldSoPin, GiveBack::kWipeAndDiscard);
        JavaBytes &newText = call.Bytes(jNewSoPin, GiveBack::kWipeAndDiscard);
        if (oldText.Unavailable() || newText.Unavailable()) {
            return kBadArgument;
        }
        SecretBytes<kDecodedSize> decoded;
        SoPin oldSoPin;
        SoPin newSoPin;
        int result = RecoverSoPin(oldText, key, decoded, oldSoPin);
        if (result != kOk) {
            return result;
        }
        result = RecoverSoPin(newText, key, decoded, newSoPin);
        if (result != kOk) {
            return result;
        }
        return call.Slot().SetSoPin(call.Functions(), call.Aux(), oldSoPin.bytes.Data(), oldSoPin.length,
                                   newSoPin.bytes.Data(), newSoPin.length);
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_UnlockUserPin(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                         jbyteArray jSoPin, jbyteArray jNewUserPin) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, SlotUse::kAlone, [&](TokenCall &call) -> jint {
        if (jSoPin == nullptr || jNewUserPin == nullptr) {
            return kBadArgument;
        }
        SoPin soPin;
        JavaBytes *newUserPin = nullptr;
        int result = TakeSoPinAndPin(call, jSoPin, jNewUserPin, soPin, newUserPin);
        if (result != kOk) {
            return result;
        }
        // The whole array is the new PIN, a zero byte in it too.
        return call.Slot().UnlockUserPin(call.Functions(), call.Aux(), soPin.bytes.Data(), soPin.length,
                                        Octets(*newUserPin), Length(*newUserPin));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_SetUserPin(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                      jbyteArray jOldUserPin, jbyteArray jNewUserPin) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, SlotUse::kAlone, [&](TokenCall &call) -> jint {
        if (jOldUserPin == nullptr || jNewUserPin == nullptr) {
            return kBadArgument;
        }
        JavaBytes &oldUserPin = call.Bytes(jOldUserPin, GiveBack::kWipeAndDiscard);
        JavaBytes &newUserPin = call.Bytes(jNewUserPin, GiveBack::kWipeAndDiscard);
        if (oldUserPin.Unavailable() || newUserPin.Unavailable()) {
            return kBadArgument;
        }
        return call.Slot().SetUserPin(call.Functions(), call.Aux(), Octets(oldUserPin), Length(oldUserPin),
                                     Octets(newUserPin), Length(newUserPin));
    });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_InitToken(JNIEnv *env, jclass, jint moduleKind, jint slotId,
                                                     jbyteArray jSoPin, jbyteArray jUserPin, jstring jLabel) {
    return SlotEntry(env, moduleKind, slotId, ModuleTables::kWithAux, SlotUse::kAlone, [&](TokenCall &call) -> jint {
        // The label is an argument like the arrays: missing, or longer than
        // the 32 octets PKCS #11 gives it, it is refused up front.
        if (jSoPin == nullptr || jUserPin == nullptr || jLabel == nullptr ||
            static_cast<std::size_t>(env->GetStringUTFLength(jLabel)) > kTokenLabelSize) {
            return kBadArgument;
        }
        SoPin soPin;
        JavaBytes *userPin = nullptr;
        int result = TakeSoPinAndPin(call, jSoPin, jUserPin, soPin, userPin);
        if (result != kOk) {
            return result;
        }
        JavaUtfChars &label = call.Utf(jLabel);
        if (label.Unavailable()) {
            return kBadArgument;
        }
        return call.Slot().InitToken(call.Functions(), call.Aux(), soPin.bytes.Data(), soPin.length, Octets(*userPin),
                                    Length(*userPin), label.Chars(), static_cast<std::size_t>(label.Length()));
    });
}

}  // extern "C"
