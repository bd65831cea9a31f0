// The seam between the personal-store operations (ChooseStoreCertificate,
// ListCertByCSP, SignByCSP, VerifyByCSP, written once in store_*.cpp) and the
// platform's certificate services. A backend implements these classes with
// its platform's calls, and PlatformStore() returns it; the file that defines
// PlatformStore() is chosen at build time. On Linux that is
// store_loader_posix.cpp, which loads the NSS backend (sysstore/nss/, built
// as the module libkavro-nss.so); on Windows a CryptoAPI backend, in a file
// ending _cryptoapi.cpp.
//
// Contract for every backend:
// - Each handle object owns one platform object and releases it in its
//   destructor; the operations destroy handles in a fixed order, so a backend
//   releases nothing on its own initiative. Objects from one backend are only
//   ever handed back to the same backend.
// - A certificate stays valid after the store it came from is closed, and a
//   hash stays valid while its creator lives (the operations destroy hashes
//   first).
// - Failures are reported as null handles or false, never as exceptions;
//   the only exception a backend may let through is std::bad_alloc.
// - Serial numbers are in the platform's order: least significant octet
//   first, including the octet 0x00 that DER puts before a top bit that is set
//   (0x80A1B2C3 is C3 B2 A1 80 00). Signatures too are least significant octet
//   first, both as SignHash delivers them and as VerifySignature takes them.
// - No state survives a call: what a backend opens lives in these objects.
// - Several threads may use the backend at once, each with its own objects.
// The CryptoAPI call that each member stands for is named beside it.
#ifndef KAVRO_SYSSTORE_STORE_SEAM_H
#define KAVRO_SYSSTORE_STORE_SEAM_H

#include <cstddef>
#include <memory>

namespace kavro {

// Octets owned by the object that handed them out.
struct SerialBlob {
    const unsigned char *data;
    std::size_t length;
};

// A certificate context. Destructor: CertFreeCertificateContext.
class StoreCertificate {
public:
    virtual ~StoreCertificate() = default;
    // pCertInfo->SerialNumber: least significant octet first, valid as long as
    // the certificate.
    virtual SerialBlob SerialNumber() const = 0;
};

// The current user's personal store "MY", open. Destructor: CertCloseStore
// (store, 0).
class PersonalStore {
public:
    virtual ~PersonalStore() = default;
    // CryptUIDlgSelectCertificateFromStore(store, no owner window, no title,
    // no text, CRYPTUI_SELECT_LOCATION_COLUMN as the hidden columns, flags 0,
    // no reserved value): every certificate of the store is offered, with or
    // without a key, valid or not. Null when the user closes the dialog
    // without a choice, and when no dialog can be shown at all; the calling
    // thread is blocked while the dialog is open. The operations call it
    // from one thread at a time (store_choice.cpp).
    virtual std::unique_ptr<StoreCertificate> SelectInDialog() = 0;
    // CertEnumCertificatesInStore(store, previous): with previous null the
    // first certificate, else the one after previous, which must be the
    // certificate this store returned last; null at the end. previous is
    // released in every case.
    virtual std::unique_ptr<StoreCertificate> NextCertificate(std::unique_ptr<StoreCertificate> previous) = 0;
};

// A SHA-1 hash object. Destructor: CryptDestroyHash.
class Sha1Hash {
public:
    virtual ~Sha1Hash() = default;
    // CryptHashData(hash, data, length, 0). length may be 0.
    virtual bool HashData(const unsigned char *data, std::size_t length) = 0;
};

// A certificate's private key in the provider that holds it. Destructor:
// CryptReleaseContext(provider, 0), whatever the caller-free flag said.
class SigningKey {
public:
    virtual ~SigningKey() = default;
    // CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash).
    virtual std::unique_ptr<Sha1Hash> CreateHash() = 0;
    // CryptSignHashA(hash, keySpec, NULL, 0, signature, length), RSA PKCS #1
    // v1.5 over the SHA-1 of what was hashed. *length holds the room at
    // signature on entry and the signature's length after success. False when
    // the platform refuses, also when the signature would not fit.
    virtual bool SignHash(Sha1Hash &hash, unsigned char *signature, std::size_t *length) = 0;
};

// A provider context of the platform's RSA provider, for verification.
// Destructor: CryptDestroyKey on the imported public key, then
// CryptReleaseContext(provider, 0).
class VerifyingProvider {
public:
    virtual ~VerifyingProvider() = default;
    // CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING |
    // PKCS_7_ASN_ENCODING, &pCertInfo->SubjectPublicKeyInfo, &key). False when
    // the key cannot be imported (for example: not an RSA key).
    virtual bool ImportPublicKey(const StoreCertificate &certificate) = 0;
    // CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash).
    virtual std::unique_ptr<Sha1Hash> CreateHash() = 0;
    // CryptVerifySignatureA(hash, signature, length, key, NULL, 0) with the
    // key imported before. True only when the signature verifies.
    virtual bool VerifySignature(Sha1Hash &hash, const unsigned char *signature, std::size_t length) = 0;
};

// What DecodeCertificate found.
enum class Decoded {
    kCertificate,
    kNotACertificate,
    kNoProvider,  // the platform's certificate services cannot be had at all
};

class StoreBackend {
public:
    virtual ~StoreBackend() = default;
    // CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
    // CERT_SYSTEM_STORE_CURRENT_USER, L"MY"). Null when it cannot be opened.
    virtual std::unique_ptr<PersonalStore> OpenPersonalStore() = 0;
    // CryptAcquireCertificatePrivateKey(certificate, 0, NULL, &provider,
    // &keySpec, &callerFree). A store that asks the user for a password or
    // PIN does so here. Null when the key is not available.
    virtual std::unique_ptr<SigningKey> AcquirePrivateKey(const StoreCertificate &certificate) = 0;
    // CertCreateCertificateContext(0x00020001, der, length): kCertificate
    // with the certificate in decoded, kNotACertificate when the octets are
    // not one. kNoProvider when there is nothing to decode with (on Linux:
    // the NSS backend cannot be loaded or NSS does not start).
    virtual Decoded DecodeCertificate(const unsigned char *der, std::size_t length,
                                      std::unique_ptr<StoreCertificate> &decoded) = 0;
    // CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_FULL,
    // CRYPT_VERIFYCONTEXT): no key container, so that any number of threads
    // may acquire one at once, the first ones of a new profile included.
    // Null when it fails.
    virtual std::unique_ptr<VerifyingProvider> AcquireVerifyingProvider() = 0;
};

// This platform's backend; it keeps no state of its own.
StoreBackend &PlatformStore();

}  // namespace kavro

#endif  // KAVRO_SYSSTORE_STORE_SEAM_H
