// VerifyByCSP: SHA-1 RSA signature verification with the public key of a
// certificate from the personal store, from Java (PEM or DER) or from a file.
#include "codec/pem.h"
#include "kavro/result_code.h"
#include "sysstore/store_operations.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace kavro {
namespace {

constexpr char kBeginMarker[] = "-----BEGIN CERTIFICATE-----";
constexpr std::size_t kBeginLength = sizeof kBeginMarker - 1;

using CertificateBuffer = std::array<unsigned char, kCertificateBuffer>;

// Closes a C stream once.
class OpenFile {
public:
    explicit OpenFile(std::FILE *file) : file_(file) {}
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    ~OpenFile() noexcept { Close(); }
    std::FILE *Get() const { return file_; }
    void Close() noexcept {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }

private:
    std::FILE *file_;
};

// Reads a certificate file of PEM text or DER octets into der. Files larger
// than the text buffer are refused like unreadable ones.
int ReadCertificateFile(const char *path, CertificateBuffer &text, CertificateBuffer &der, std::size_t *derLength) {
    OpenFile file(std::fopen(path, "rb"));
    if (file.Get() == nullptr) {
        return kCertificateFileUnreadable;
    }
    if (std::fseek(file.Get(), 0, SEEK_END) != 0) {
        return kCertificateFileUnreadable;
    }
    long size = std::ftell(file.Get());
    if (size < 0 || static_cast<unsigned long>(size) > text.size() || std::fseek(file.Get(), 0, SEEK_SET) != 0) {
        return kCertificateFileUnreadable;
    }
    std::size_t length = std::fread(text.data(), 1, static_cast<std::size_t>(size), file.Get());
    file.Close();
    if (length < static_cast<std::size_t>(size)) {
        return kCertificateFileUnreadable;
    }
    if (length >= kBeginLength && std::memcmp(text.data(), kBeginMarker, kBeginLength) == 0) {
        // PEM: whatever follows the END marker's last '-' (line ends) is cut off.
        while (length > 0 && text[length - 1] != '-') {
            --length;
        }
        return UnwrapPem(text.data(), length, der.data(), der.size(), derLength) == kPemUnwrapped ? kOk : kBadPem;
    }
    std::memcpy(der.data(), text.data(), length);
    *derLength = length;
    return kOk;
}

// Sources kPemText, kDerBytes and kCertificateFile: the certificate from
// the octets Java handed over.
int DecodeGivenCertificate(StoreBackend &backend, int certSource, const unsigned char *certificate,
                           std::int32_t certificateLength, std::unique_ptr<StoreCertificate> &decoded) {
    CertificateBuffer text{};
    CertificateBuffer der{};
    std::array<char, kPathBuffer> path{};
    if (certificate == nullptr) {
        return kBadArgument;
    }
    const std::size_t length = static_cast<std::size_t>(certificateLength);
    std::size_t derLength = 0;
    if (certSource == kPemText) {
        if (length > text.size()) {
            return kBadArgument;
        }
        std::memcpy(text.data(), certificate, length);
        if (UnwrapPem(text.data(), length, der.data(), der.size(), &derLength) != kPemUnwrapped) {
            return kBadPem;
        }
    } else if (certSource == kDerBytes) {
        if (length > der.size()) {
            return kBadArgument;
        }
        std::memcpy(der.data(), certificate, length);
        derLength = length;
    } else {
        // The path is copied without terminator into a zero-filled buffer
        // that keeps room for one.
        if (length >= path.size()) {
            return kBadArgument;
        }
        std::memcpy(path.data(), certificate, length);
        int result = ReadCertificateFile(path.data(), text, der, &derLength);
        if (result != kOk) {
            return result;
        }
    }
    switch (backend.DecodeCertificate(der.data(), derLength, decoded)) {
        case Decoded::kCertificate:
            return kOk;
        case Decoded::kNoProvider:
            return kNoProvider;
        case Decoded::kNotACertificate:
            break;
    }
    return kNoCertificateChosen;
}

// The handles of one verification. Members are destroyed in reverse order:
// the certificate, then the hash, then the provider with its public key.
struct VerifyingHandles {
    std::unique_ptr<VerifyingProvider> provider;
    std::unique_ptr<Sha1Hash> hash;
    std::unique_ptr<StoreCertificate> certificate;
};

}  // namespace

int VerifyByCSP(StoreBackend &backend, int certSource, const unsigned char *certificate,
                std::int32_t certificateLength, const unsigned char *data, std::int32_t dataLength,
                const unsigned char *signature, std::int32_t signatureLength) {
    if (certSource < kSelectInDialog || certSource > kCertificateFile) {
        return kBadArgument;
    }
    VerifyingHandles handles;
    int result = certSource == kSelectInDialog || certSource == kMatchSerial
                     ? ChooseStoreCertificate(backend, certSource, certificate, certificateLength, handles.certificate)
                     : DecodeGivenCertificate(backend, certSource, certificate, certificateLength, handles.certificate);
    if (result != kOk) {
        return result;
    }
    handles.provider = backend.AcquireVerifyingProvider();
    if (!handles.provider) {
        return kNoProvider;
    }
    if (!handles.provider->ImportPublicKey(*handles.certificate)) {
        return kPublicKeyNotImported;
    }
    handles.hash = handles.provider->CreateHash();
    if (!handles.hash) {
        return kHashFailed;
    }
    // Null arrays are refused where their elements would be taken.
    if (data == nullptr || dataLength < 0 || signature == nullptr || signatureLength < 0) {
        return kBadArgument;
    }
    if (!handles.hash->HashData(data, static_cast<std::size_t>(dataLength))) {
        return kHashFailed;
    }
    return handles.provider->VerifySignature(*handles.hash, signature, static_cast<std::size_t>(signatureLength))
               ? kOk
               : kSignatureInvalid;
}

}  // namespace kavro
