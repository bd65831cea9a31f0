// The personal store on Linux: the user's NSS database sql:$HOME/.pki/nssdb,
// as the backend of libkavro-nss.so.
// Each call opens it read-only with NSS_InitContext; every object of the call
// holds the context, and the last one to go shuts it down, so nothing stays
// open between calls. Only the database itself is opened: neither the module
// list kept beside it nor the built-in roots are loaded.
#include "kavro/sigpipe_action.h"
#include "sysstore/nss/nss_module.h"
#include "sysstore/nss/shared_login.h"
#include "sysstore/nss/store_dialog.h"
#include "sysstore/store_seam.h"

#include <cert.h>
#include <cryptohi.h>
#include <keyhi.h>
#include <nss.h>
#include <pk11pub.h>
#include <prinit.h>
#include <secasn1.h>
#include <secitem.h>

#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <vector>

namespace kavro {
namespace {

constexpr PRUint32 kOpenFlags = NSS_INIT_READONLY | NSS_INIT_NOROOTINIT | NSS_INIT_NOMODDB;
constexpr unsigned int kSha1Length = 20;

// NSPR, started by the first NSS call in the process, sets SIGPIPE to be
// ignored; the JVM has its own handler there and checks that it stays.
// sigpipe_guard.c keeps NSPR from doing so; when NSPR was loaded before this
// module the guard does not apply, and the action is at least put back.
NSSInitContext *InitContext(const char *directory, PRUint32 flags) {
    KeepSigpipeAction keep;
    // NSPR starts itself at its first use, but not safely when several
    // threads make that first call at once: one can find NSPR's call-once
    // lock not yet made and crash in NSS_InitContext. It is started here
    // once, the other threads waiting; with NSPR already running this does
    // nothing.
    static const bool nsprStarted = [] {
        PR_Init(PR_USER_THREAD, PR_PRIORITY_NORMAL, 0);
        return true;
    }();
    static_cast<void>(nsprStarted);
    return NSS_InitContext(directory, "", "", "", nullptr, flags);
}

// One NSS_InitContext, shut down with the last object that holds it. NSS
// counts contexts: other users of NSS in the process keep theirs.
class NssContext {
public:
    NssContext() = default;
    NssContext(const NssContext &) = delete;
    NssContext &operator=(const NssContext &) = delete;
    ~NssContext() noexcept {
        if (context_ != nullptr) {
            NSS_ShutdownContext(context_);
        }
    }

    // The user's database; null when there is none (or no HOME to find it in).
    static std::shared_ptr<NssContext> OpenUserDatabase() {
        const char *home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            return nullptr;
        }
        std::string directory = std::string("sql:") + home + "/.pki/nssdb";
        auto nss = std::make_shared<NssContext>();
        nss->context_ = InitContext(directory.c_str(), kOpenFlags);
        return nss->context_ != nullptr ? nss : nullptr;
    }

    // NSS without any database, for decoding and verifying.
    static std::shared_ptr<NssContext> OpenWithoutDatabase() {
        auto nss = std::make_shared<NssContext>();
        nss->context_ = InitContext("", kOpenFlags | NSS_INIT_NOCERTDB | NSS_INIT_FORCEOPEN);
        return nss->context_ != nullptr ? nss : nullptr;
    }

private:
    NSSInitContext *context_ = nullptr;
};

using Nss = std::shared_ptr<NssContext>;

struct CertificateRelease {
    void operator()(CERTCertificate *certificate) const noexcept { CERT_DestroyCertificate(certificate); }
};
struct CertificateListRelease {
    void operator()(CERTCertList *list) const noexcept { CERT_DestroyCertList(list); }
};
struct PrivateKeyRelease {
    void operator()(SECKEYPrivateKey *key) const noexcept { SECKEY_DestroyPrivateKey(key); }
};
struct PublicKeyRelease {
    void operator()(SECKEYPublicKey *key) const noexcept { SECKEY_DestroyPublicKey(key); }
};
struct SlotRelease {
    void operator()(PK11SlotInfo *slot) const noexcept { PK11_FreeSlot(slot); }
};
struct DigestRelease {
    void operator()(PK11Context *context) const noexcept { PK11_DestroyContext(context, PR_TRUE); }
};
struct ItemRelease {
    void operator()(SECItem *item) const noexcept { SECITEM_FreeItem(item, PR_FALSE); }
};

using CertificatePointer = std::unique_ptr<CERTCertificate, CertificateRelease>;
using CertificateListPointer = std::unique_ptr<CERTCertList, CertificateListRelease>;
using PrivateKeyPointer = std::unique_ptr<SECKEYPrivateKey, PrivateKeyRelease>;
using PublicKeyPointer = std::unique_ptr<SECKEYPublicKey, PublicKeyRelease>;
using SlotPointer = std::unique_ptr<PK11SlotInfo, SlotRelease>;
using DigestPointer = std::unique_ptr<PK11Context, DigestRelease>;
using ItemData = std::unique_ptr<SECItem, ItemRelease>;  // frees the data of an item on the stack

void ReverseInto(unsigned char *destination, const unsigned char *source, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        destination[i] = source[length - 1 - i];
    }
}

// A certificate, from the store or decoded from octets Java gave: its
// serial in the seam's order and its public key. The context is a member of
// this base, so it goes after the NSS objects of the derived classes.
class NssCertificateBase : public StoreCertificate {
public:
    NssCertificateBase(Nss nss, const SECItem &serial) : nss_(std::move(nss)), serial_(serial.len) {
        // NSS keeps the INTEGER's content octets most significant first; the
        // seam wants the platform order.
        ReverseInto(serial_.data(), serial.data, serial.len);
    }
    SerialBlob SerialNumber() const override { return {serial_.data(), serial_.size()}; }
    virtual const CERTSubjectPublicKeyInfo &PublicKeyInfo() const = 0;
    const Nss &Context() const { return nss_; }

private:
    Nss nss_;
    std::vector<unsigned char> serial_;
};

// A certificate of the store.
class NssCertificate final : public NssCertificateBase {
public:
    NssCertificate(Nss nss, CertificatePointer certificate)
        : NssCertificateBase(std::move(nss), certificate->serialNumber), certificate_(std::move(certificate)) {}
    const CERTSubjectPublicKeyInfo &PublicKeyInfo() const override { return certificate_->subjectPublicKeyInfo; }
    CERTCertificate *Get() const { return certificate_.get(); }

private:
    CertificatePointer certificate_;
};

struct ArenaRelease {
    void operator()(PLArenaPool *arena) const noexcept { PORT_FreeArena(arena, PR_FALSE); }
};
using ArenaPointer = std::unique_ptr<PLArenaPool, ArenaRelease>;

// A certificate decoded from octets on its own, with NSS's certificate
// template. Nothing is looked up in any database: a certificate that shares
// issuer and serial with a stored one keeps its own key, where
// CERT_NewTempCertificate (and CERT_DecodeCertFromPackage through it) refuses
// it or hands back the stored one while the database is open in the process.
class GivenCertificate final : public NssCertificateBase {
public:
    GivenCertificate(Nss nss, ArenaPointer arena, const CERTCertificate *fields)
        : NssCertificateBase(std::move(nss), fields->serialNumber), arena_(std::move(arena)), fields_(fields) {}

    static std::unique_ptr<StoreCertificate> Decode(const Nss &nss, const unsigned char *der, std::size_t length) {
        ArenaPointer arena(PORT_NewArena(DER_DEFAULT_CHUNKSIZE));
        if (!arena) {
            throw std::bad_alloc();
        }
        // The decoder points into the octets it decodes: they are copied
        // into the arena first. Trailing octets fail the decoding.
        SECItem source = {siBuffer, const_cast<unsigned char *>(der), static_cast<unsigned int>(length)};
        SECItem copy = {siBuffer, nullptr, 0};
        CERTCertificate *fields = PORT_ArenaZNew(arena.get(), CERTCertificate);
        if (fields == nullptr || SECITEM_CopyItem(arena.get(), &copy, &source) != SECSuccess) {
            throw std::bad_alloc();
        }
        if (SEC_QuickDERDecodeItem(arena.get(), fields, SEC_ASN1_GET(SEC_SignedCertificateTemplate), &copy) !=
            SECSuccess) {
            return nullptr;
        }
        return std::make_unique<GivenCertificate>(nss, std::move(arena), fields);
    }

    const CERTSubjectPublicKeyInfo &PublicKeyInfo() const override { return fields_->subjectPublicKeyInfo; }

private:
    ArenaPointer arena_;
    const CERTCertificate *fields_;  // in arena_: only the decoded fields, no NSS certificate
};

std::unique_ptr<StoreCertificate> Wrap(const Nss &nss, CERTCertificate *certificate) {
    CertificatePointer owned(certificate);
    if (!owned) {
        return nullptr;
    }
    return std::make_unique<NssCertificate>(nss, std::move(owned));
}

// The serial as the dialog shows it: hex, most significant octet first;
// beyond 20 octets (the X.509 profile's bound) only the first 8 and the count.
std::string SerialText(const SECItem &serial) {
    static const char digits[] = "0123456789ABCDEF";
    const unsigned int shown = serial.len > 20 ? 8 : serial.len;
    std::string text;
    for (unsigned int i = 0; i < shown; ++i) {
        text += digits[serial.data[i] >> 4];
        text += digits[serial.data[i] & 15];
    }
    if (shown < serial.len) {
        text += "... (" + std::to_string(serial.len) + " octets)";
    }
    return text;
}

std::string Date(PRTime time) {
    std::time_t seconds = static_cast<std::time_t>(time / PR_USEC_PER_SEC);
    std::tm parts{};
    char text[32];
    if (gmtime_r(&seconds, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", &parts) == 0) {
        return "?";
    }
    return text;
}

CertificateRow Row(const CERTCertificate *certificate) {
    CertificateRow row;
    row.subject = certificate->subjectName != nullptr ? certificate->subjectName : "";
    row.issuer = certificate->issuerName != nullptr ? certificate->issuerName : "";
    row.serial = SerialText(certificate->serialNumber);
    PRTime notBefore = 0;
    PRTime notAfter = 0;
    if (CERT_GetCertTimes(certificate, &notBefore, &notAfter) == SECSuccess) {
        row.validFrom = Date(notBefore);
        row.validTo = Date(notAfter);
    } else {
        row.validFrom = row.validTo = "?";
    }
    return row;
}

// The database's certificates, all of them, with or without a key.
class NssStore final : public PersonalStore {
public:
    explicit NssStore(Nss nss) : nss_(std::move(nss)), list_(PK11_ListCerts(PK11CertListAll, nullptr)) {}

    std::unique_ptr<StoreCertificate> SelectInDialog() override {
        std::vector<CERTCertificate *> certificates;
        std::vector<CertificateRow> rows;
        for (CERTCertListNode *node = First(); node != nullptr; node = Next(node)) {
            certificates.push_back(node->cert);
            rows.push_back(Row(node->cert));
        }
        long chosen = ChooseCertificateRow(rows);
        if (chosen < 0) {
            return nullptr;
        }
        return Wrap(nss_, CERT_DupCertificate(certificates[static_cast<std::size_t>(chosen)]));
    }

    std::unique_ptr<StoreCertificate> NextCertificate(std::unique_ptr<StoreCertificate> previous) override {
        CERTCertListNode *node = previous ? next_ : First();
        previous.reset();
        if (node == nullptr) {
            return nullptr;
        }
        next_ = Next(node);
        return Wrap(nss_, CERT_DupCertificate(node->cert));
    }

private:
    CERTCertListNode *First() const {
        if (!list_) {
            return nullptr;
        }
        CERTCertListNode *node = CERT_LIST_HEAD(list_.get());
        return CERT_LIST_END(node, list_.get()) ? nullptr : node;
    }
    CERTCertListNode *Next(CERTCertListNode *node) const {
        node = CERT_LIST_NEXT(node);
        return CERT_LIST_END(node, list_.get()) ? nullptr : node;
    }

    Nss nss_;
    CertificateListPointer list_;
    CERTCertListNode *next_ = nullptr;
};

class NssSha1Hash final : public Sha1Hash {
public:
    explicit NssSha1Hash(Nss nss) : nss_(std::move(nss)) {}

    static std::unique_ptr<Sha1Hash> Create(const Nss &nss) {
        auto hash = std::make_unique<NssSha1Hash>(nss);
        hash->context_.reset(PK11_CreateDigestContext(SEC_OID_SHA1));
        if (!hash->context_ || PK11_DigestBegin(hash->context_.get()) != SECSuccess) {
            return nullptr;
        }
        return hash;
    }

    bool HashData(const unsigned char *data, std::size_t length) override {
        // Java lengths are below 2^31, so one call takes them whole.
        return length == 0 || PK11_DigestOp(context_.get(), data, static_cast<unsigned int>(length)) == SECSuccess;
    }

    bool Finish(unsigned char (&digest)[kSha1Length]) {
        unsigned int length = 0;
        return PK11_DigestFinal(context_.get(), digest, &length, kSha1Length) == SECSuccess && length == kSha1Length;
    }

private:
    Nss nss_;
    DigestPointer context_;
};

class NssSigningKey final : public SigningKey {
public:
    NssSigningKey(Nss nss, SlotPointer slot) : nss_(std::move(nss)), slot_(std::move(slot)) {}

    // Joins the login to the key's database when it has a password (asking
    // the user for it if no login is in effect); then finds the
    // certificate's RSA key.
    bool Acquire(CERTCertificate *certificate) {
        if (slot_ && !login_.Join(slot_.get())) {
            return false;
        }
        key_.reset(PK11_FindKeyByAnyCert(certificate, nullptr));
        return key_ && SECKEY_GetPrivateKeyType(key_.get()) == rsaKey;
    }

    std::unique_ptr<Sha1Hash> CreateHash() override { return NssSha1Hash::Create(nss_); }

    bool SignHash(Sha1Hash &hash, unsigned char *signature, std::size_t *length) override {
        unsigned char digest[kSha1Length];
        if (!static_cast<NssSha1Hash &>(hash).Finish(digest)) {
            return false;
        }
        SECItem digestItem = {siBuffer, digest, kSha1Length};
        SECItem result = {siBuffer, nullptr, 0};
        if (SGN_Digest(key_.get(), SEC_OID_SHA1, &result, &digestItem) != SECSuccess) {
            return false;
        }
        ItemData resultData(&result);
        if (result.len > *length) {
            return false;
        }
        // NSS gives the signature most significant octet first.
        ReverseInto(signature, result.data, result.len);
        *length = result.len;
        return true;
    }

private:
    // Destroyed in reverse: the key, then its share in the login, then the
    // slot and the context.
    Nss nss_;
    SlotPointer slot_;
    LoginShare login_;
    PrivateKeyPointer key_;
};

class NssVerifyingProvider final : public VerifyingProvider {
public:
    explicit NssVerifyingProvider(Nss nss) : nss_(std::move(nss)) {}

    bool ImportPublicKey(const StoreCertificate &certificate) override {
        key_.reset(SECKEY_ExtractPublicKey(&static_cast<const NssCertificateBase &>(certificate).PublicKeyInfo()));
        if (key_ && SECKEY_GetPublicKeyType(key_.get()) != rsaKey) {
            key_.reset();
        }
        return key_ != nullptr;
    }

    std::unique_ptr<Sha1Hash> CreateHash() override { return NssSha1Hash::Create(nss_); }

    bool VerifySignature(Sha1Hash &hash, const unsigned char *signature, std::size_t length) override {
        unsigned char digest[kSha1Length];
        if (!key_ || !static_cast<NssSha1Hash &>(hash).Finish(digest)) {
            return false;
        }
        // The signature arrives least significant octet first.
        std::vector<unsigned char> bigEndian(length);
        ReverseInto(bigEndian.data(), signature, length);
        SECItem digestItem = {siBuffer, digest, kSha1Length};
        SECItem signatureItem = {siBuffer, bigEndian.data(), static_cast<unsigned int>(length)};
        return VFY_VerifyDigestDirect(&digestItem, key_.get(), &signatureItem, SEC_OID_PKCS1_RSA_ENCRYPTION,
                                      SEC_OID_SHA1, nullptr) == SECSuccess;
    }

private:
    Nss nss_;
    PublicKeyPointer key_;
};

class NssBackend final : public StoreBackend {
public:
    std::unique_ptr<PersonalStore> OpenPersonalStore() override {
        Nss nss = NssContext::OpenUserDatabase();
        if (!nss) {
            return nullptr;
        }
        return std::make_unique<NssStore>(nss);
    }

    std::unique_ptr<SigningKey> AcquirePrivateKey(const StoreCertificate &certificate) override {
        // Only certificates of the store come here (SignByCSP chooses in the store).
        const NssCertificate &nssCertificate = static_cast<const NssCertificate &>(certificate);
        CERTCertificate *nssCert = nssCertificate.Get();
        SlotPointer slot(nssCert->slot != nullptr ? PK11_ReferenceSlot(nssCert->slot) : PK11_GetInternalKeySlot());
        auto key = std::make_unique<NssSigningKey>(nssCertificate.Context(), std::move(slot));
        if (!key->Acquire(nssCert)) {
            return nullptr;
        }
        return key;
    }

    Decoded DecodeCertificate(const unsigned char *der, std::size_t length,
                              std::unique_ptr<StoreCertificate> &decoded) override {
        Nss nss = NssContext::OpenWithoutDatabase();
        if (!nss) {
            return Decoded::kNoProvider;
        }
        decoded = GivenCertificate::Decode(nss, der, length);
        return decoded ? Decoded::kCertificate : Decoded::kNotACertificate;
    }

    std::unique_ptr<VerifyingProvider> AcquireVerifyingProvider() override {
        Nss nss = NssContext::OpenWithoutDatabase();
        if (!nss) {
            return nullptr;
        }
        return std::make_unique<NssVerifyingProvider>(nss);
    }
};

}  // namespace
}  // namespace kavro

extern "C" __attribute__((visibility("default"))) kavro::StoreBackend *KavroNssBackend() {
    static kavro::NssBackend backend;
    return &backend;
}
