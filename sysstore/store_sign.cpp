// SignByCSP: SHA-1 RSA signing with the private key of a personal-store
// certificate chosen in the dialog or by serial.
#include "kavro/result_code.h"
#include "sysstore/store_operations.h"

#include <array>
#include <cstring>

namespace kavro {
namespace {

// The handles of one signing call. Members are destroyed in reverse order:
// the hash, then the certificate, then the key's provider.
struct SigningHandles {
    std::unique_ptr<SigningKey> key;
    std::unique_ptr<StoreCertificate> certificate;
    std::unique_ptr<Sha1Hash> hash;
};

}  // namespace

int SignByCSP(StoreBackend &backend, int certSource, const unsigned char *serial, std::int32_t serialLength,
              const unsigned char *data, std::int32_t dataLength, const SignatureOutput &output) {
    if (certSource != kSelectInDialog && certSource != kMatchSerial) {
        return kBadArgument;
    }
    SigningHandles handles;
    int result = ChooseStoreCertificate(backend, certSource, serial, serialLength, handles.certificate);
    if (result != kOk) {
        return result;
    }
    handles.key = backend.AcquirePrivateKey(*handles.certificate);
    if (!handles.key) {
        return kNoPrivateKey;
    }
    // Null arrays are refused only now, after a dialog may have been shown.
    if (data == nullptr || dataLength < 0 || output.signature == nullptr || output.signatureLength == nullptr) {
        return kBadArgument;
    }
    handles.hash = handles.key->CreateHash();
    if (!handles.hash) {
        return kHashFailed;
    }
    if (!handles.hash->HashData(data, static_cast<std::size_t>(dataLength))) {
        return kHashFailed;
    }
    std::array<unsigned char, kSignatureBuffer> signature{};
    std::size_t length = signature.size();
    if (!handles.key->SignHash(*handles.hash, signature.data(), &length) || length > signature.size()) {
        return kSigningFailed;
    }
    // A Java array too short for the signature is left as it was.
    if (length > output.capacity) {
        return kBadArgument;
    }
    std::memcpy(output.signature, signature.data(), length);
    *output.signatureLength = static_cast<std::int32_t>(length);
    return kOk;
}

}  // namespace kavro
