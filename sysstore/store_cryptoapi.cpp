// The personal store on Windows: the current user's system store "MY"
// through CryptoAPI (CRYPT32, ADVAPI32) and the selection dialog of CRYPTUI.
// Each handle object owns one CryptoAPI handle and releases it in its
// destructor. Objects are made before the handle is acquired into them, so
// that a failed allocation never strands a handle.
#include "sysstore/store_seam.h"

#include <windows.h>
#include <wincrypt.h>
#include <cryptuiapi.h>

#include <limits>

namespace kavro {
namespace {

// Lengths cross to CryptoAPI as DWORD.
bool FitsDword(std::size_t length) { return length <= std::numeric_limits<DWORD>::max(); }

// A certificate context. Contexts hold a reference to their store's data, so
// they stay valid after the store handle is closed.
class CryptoApiCertificate final : public StoreCertificate {
public:
    CryptoApiCertificate() = default;
    CryptoApiCertificate(const CryptoApiCertificate &) = delete;
    CryptoApiCertificate &operator=(const CryptoApiCertificate &) = delete;
    ~CryptoApiCertificate() override {
        if (context_ != nullptr) {
            CertFreeCertificateContext(context_);
        }
    }

    SerialBlob SerialNumber() const override {
        const CRYPT_INTEGER_BLOB &serial = context_->pCertInfo->SerialNumber;
        return {serial.pbData, serial.cbData};
    }

    PCCERT_CONTEXT Get() const { return context_; }
    void Take(PCCERT_CONTEXT context) { context_ = context; }
    // Gives up ownership: CertEnumCertificatesInStore frees the context it is
    // handed as the previous one.
    PCCERT_CONTEXT Release() {
        PCCERT_CONTEXT context = context_;
        context_ = nullptr;
        return context;
    }

private:
    PCCERT_CONTEXT context_ = nullptr;
};

const CryptoApiCertificate &Of(const StoreCertificate &certificate) {
    return static_cast<const CryptoApiCertificate &>(certificate);
}

// A certificate object holding context, or null (and nothing held) when
// context is null.
std::unique_ptr<StoreCertificate> Holding(std::unique_ptr<CryptoApiCertificate> certificate, PCCERT_CONTEXT context) {
    if (context == nullptr) {
        return nullptr;
    }
    certificate->Take(context);
    return certificate;
}

class CryptoApiStore final : public PersonalStore {
public:
    CryptoApiStore() = default;
    CryptoApiStore(const CryptoApiStore &) = delete;
    CryptoApiStore &operator=(const CryptoApiStore &) = delete;
    ~CryptoApiStore() override {
        if (store_ != nullptr) {
            CertCloseStore(store_, 0);
        }
    }

    std::unique_ptr<StoreCertificate> SelectInDialog() override {
        auto certificate = std::make_unique<CryptoApiCertificate>();
        // The platform's own title and text; the location column is hidden.
        PCCERT_CONTEXT chosen = CryptUIDlgSelectCertificateFromStore(store_, nullptr, nullptr, nullptr,
                                                                     CRYPTUI_SELECT_LOCATION_COLUMN, 0, nullptr);
        return Holding(std::move(certificate), chosen);
    }

    std::unique_ptr<StoreCertificate> NextCertificate(std::unique_ptr<StoreCertificate> previous) override {
        // Allocated while previous is still owned: if this throws, previous
        // is freed by its own object.
        auto certificate = std::make_unique<CryptoApiCertificate>();
        PCCERT_CONTEXT last = previous ? static_cast<CryptoApiCertificate &>(*previous).Release() : nullptr;
        return Holding(std::move(certificate), CertEnumCertificatesInStore(store_, last));
    }

    HCERTSTORE store_ = nullptr;
};

class CryptoApiHash final : public Sha1Hash {
public:
    CryptoApiHash() = default;
    CryptoApiHash(const CryptoApiHash &) = delete;
    CryptoApiHash &operator=(const CryptoApiHash &) = delete;
    ~CryptoApiHash() override {
        if (hash_ != 0) {
            CryptDestroyHash(hash_);
        }
    }

    bool HashData(const unsigned char *data, std::size_t length) override {
        return FitsDword(length) && CryptHashData(hash_, data, static_cast<DWORD>(length), 0) != FALSE;
    }

    HCRYPTHASH hash_ = 0;
};

CryptoApiHash &Of(Sha1Hash &hash) { return static_cast<CryptoApiHash &>(hash); }

std::unique_ptr<Sha1Hash> CreateSha1(HCRYPTPROV provider) {
    auto hash = std::make_unique<CryptoApiHash>();
    if (CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash->hash_) == FALSE) {
        return nullptr;
    }
    return hash;
}

// The provider that holds a certificate's private key. It is released
// whatever the caller-free flag said: with flags 0 the key is never one of
// CryptoAPI's cached handles.
class CryptoApiSigningKey final : public SigningKey {
public:
    CryptoApiSigningKey() = default;
    CryptoApiSigningKey(const CryptoApiSigningKey &) = delete;
    CryptoApiSigningKey &operator=(const CryptoApiSigningKey &) = delete;
    ~CryptoApiSigningKey() override {
        if (provider_ != 0) {
            CryptReleaseContext(provider_, 0);
        }
    }

    std::unique_ptr<Sha1Hash> CreateHash() override { return CreateSha1(provider_); }

    bool SignHash(Sha1Hash &hash, unsigned char *signature, std::size_t *length) override {
        DWORD room = FitsDword(*length) ? static_cast<DWORD>(*length) : std::numeric_limits<DWORD>::max();
        if (CryptSignHashA(Of(hash).hash_, keySpec_, nullptr, 0, signature, &room) == FALSE) {
            return false;
        }
        *length = room;
        return true;
    }

    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider_ = 0;
    DWORD keySpec_ = 0;
};

// A context of the default RSA provider with a certificate's public key.
// The key is destroyed before the context is released: key handles left to
// a released context are not freed by every provider.
class CryptoApiVerifier final : public VerifyingProvider {
public:
    CryptoApiVerifier() = default;
    CryptoApiVerifier(const CryptoApiVerifier &) = delete;
    CryptoApiVerifier &operator=(const CryptoApiVerifier &) = delete;
    ~CryptoApiVerifier() override {
        if (key_ != 0) {
            CryptDestroyKey(key_);
        }
        if (provider_ != 0) {
            CryptReleaseContext(provider_, 0);
        }
    }

    bool ImportPublicKey(const StoreCertificate &certificate) override {
        if (key_ != 0) {
            return false;
        }
        PCCERT_CONTEXT context = Of(certificate).Get();
        return CryptImportPublicKeyInfo(provider_, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                        &context->pCertInfo->SubjectPublicKeyInfo, &key_) != FALSE;
    }

    std::unique_ptr<Sha1Hash> CreateHash() override { return CreateSha1(provider_); }

    bool VerifySignature(Sha1Hash &hash, const unsigned char *signature, std::size_t length) override {
        return key_ != 0 && FitsDword(length) &&
               CryptVerifySignatureA(Of(hash).hash_, signature, static_cast<DWORD>(length), key_, nullptr, 0) !=
                   FALSE;
    }

    HCRYPTPROV provider_ = 0;
    HCRYPTKEY key_ = 0;
};

class CryptoApiBackend final : public StoreBackend {
public:
    std::unique_ptr<PersonalStore> OpenPersonalStore() override {
        auto store = std::make_unique<CryptoApiStore>();
        store->store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        if (store->store_ == nullptr) {
            return nullptr;
        }
        return store;
    }

    std::unique_ptr<SigningKey> AcquirePrivateKey(const StoreCertificate &certificate) override {
        auto key = std::make_unique<CryptoApiSigningKey>();
        BOOL callerFree = FALSE;
        if (CryptAcquireCertificatePrivateKey(Of(certificate).Get(), 0, nullptr, &key->provider_, &key->keySpec_,
                                              &callerFree) == FALSE) {
            key->provider_ = 0;
            return nullptr;
        }
        return key;
    }

    Decoded DecodeCertificate(const unsigned char *der, std::size_t length,
                              std::unique_ptr<StoreCertificate> &decoded) override {
        if (!FitsDword(length)) {
            return Decoded::kNotACertificate;
        }
        decoded = Holding(std::make_unique<CryptoApiCertificate>(),
                          CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_NDR_ENCODING, der,
                                                       static_cast<DWORD>(length)));
        return decoded ? Decoded::kCertificate : Decoded::kNotACertificate;
    }

    std::unique_ptr<VerifyingProvider> AcquireVerifyingProvider() override {
        auto verifier = std::make_unique<CryptoApiVerifier>();
        // Verification needs only the imported public key and hashes, so no
        // key container: the user's default one is neither opened nor made.
        // (Making it on first use raced: of two first callers at once, the
        // one whose CRYPT_NEWKEYSET came second failed with NTE_EXISTS.)
        if (CryptAcquireContextA(&verifier->provider_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ==
            FALSE) {
            verifier->provider_ = 0;
            return nullptr;
        }
        return verifier;
    }
};

}  // namespace

StoreBackend &PlatformStore() {
    static CryptoApiBackend backend;
    return backend;
}

}  // namespace kavro
