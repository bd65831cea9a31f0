// A scripted store backend for the personal-store operations: certificates
// with serials, a dialog answer, and one failure at a time; every platform
// call and every release goes into a journal, so tests can see the order of
// checks and that each handle is released exactly once.
#ifndef KAVRO_TESTS_UNIT_FAKE_STORE_H
#define KAVRO_TESTS_UNIT_FAKE_STORE_H

#include "sysstore/store_seam.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kavro {
namespace fake {

struct Certificate {
    std::string name;
    std::vector<unsigned char> serial;  // big-endian, as Java has it
};

struct Script {
    std::vector<Certificate> certificates;
    bool storeOpens = true;
    int dialogChoice = -1;  // index into certificates; -1 cancels
    bool keyAvailable = true;
    bool hashCreated = true;
    bool hashFed = true;
    bool signs = true;
    std::size_t signatureLength = 256;
    bool decodes = true;
    bool decoderAvailable = true;
    bool providerAcquired = true;
    bool keyImported = true;
    bool verifies = true;
};

using Journal = std::vector<std::string>;

inline std::string Hex(const unsigned char *data, std::size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

class FakeCertificate final : public StoreCertificate {
public:
    FakeCertificate(Journal &journal, const Certificate &certificate)
        : journal_(journal), name_(certificate.name), serial_(certificate.serial.rbegin(), certificate.serial.rend()) {}
    ~FakeCertificate() override { journal_.push_back("free " + name_); }
    SerialBlob SerialNumber() const override { return {serial_.data(), serial_.size()}; }
    const std::string &Name() const { return name_; }

private:
    Journal &journal_;
    std::string name_;
    std::vector<unsigned char> serial_;  // platform order
};

class FakeStore final : public PersonalStore {
public:
    FakeStore(Journal &journal, const Script &script) : journal_(journal), script_(script) {}
    ~FakeStore() override { journal_.push_back("close store"); }

    std::unique_ptr<StoreCertificate> SelectInDialog() override {
        journal_.push_back("dialog");
        if (script_.dialogChoice < 0) {
            return nullptr;
        }
        return std::make_unique<FakeCertificate>(journal_, script_.certificates[script_.dialogChoice]);
    }

    std::unique_ptr<StoreCertificate> NextCertificate(std::unique_ptr<StoreCertificate> previous) override {
        position_ = previous ? position_ + 1 : 0;
        previous.reset();
        if (position_ >= script_.certificates.size()) {
            journal_.push_back("enumerate: end");
            return nullptr;
        }
        journal_.push_back("enumerate " + script_.certificates[position_].name);
        return std::make_unique<FakeCertificate>(journal_, script_.certificates[position_]);
    }

private:
    Journal &journal_;
    const Script &script_;
    std::size_t position_ = 0;
};

class FakeHash final : public Sha1Hash {
public:
    FakeHash(Journal &journal, const Script &script) : journal_(journal), script_(script) {}
    ~FakeHash() override { journal_.push_back("destroy hash"); }
    bool HashData(const unsigned char *data, std::size_t length) override {
        journal_.push_back("hash " + Hex(data, length));
        return script_.hashFed;
    }

private:
    Journal &journal_;
    const Script &script_;
};

class FakeKey final : public SigningKey {
public:
    FakeKey(Journal &journal, const Script &script, std::string name)
        : journal_(journal), script_(script), name_(std::move(name)) {}
    ~FakeKey() override { journal_.push_back("release key provider"); }
    std::unique_ptr<Sha1Hash> CreateHash() override {
        journal_.push_back("create hash");
        return script_.hashCreated ? std::make_unique<FakeHash>(journal_, script_) : nullptr;
    }
    // The signature: octets 1, 2, 3, ... in platform order.
    bool SignHash(Sha1Hash &, unsigned char *signature, std::size_t *length) override {
        journal_.push_back("sign hash, room " + std::to_string(*length));
        if (!script_.signs || script_.signatureLength > *length) {
            return false;
        }
        for (std::size_t i = 0; i < script_.signatureLength; ++i) {
            signature[i] = static_cast<unsigned char>(i + 1);
        }
        *length = script_.signatureLength;
        return true;
    }

private:
    Journal &journal_;
    const Script &script_;
    std::string name_;
};

class FakeProvider final : public VerifyingProvider {
public:
    FakeProvider(Journal &journal, const Script &script) : journal_(journal), script_(script) {}
    ~FakeProvider() override { journal_.push_back("release provider"); }
    bool ImportPublicKey(const StoreCertificate &certificate) override {
        journal_.push_back("import key of " + static_cast<const FakeCertificate &>(certificate).Name());
        return script_.keyImported;
    }
    std::unique_ptr<Sha1Hash> CreateHash() override {
        journal_.push_back("create hash");
        return script_.hashCreated ? std::make_unique<FakeHash>(journal_, script_) : nullptr;
    }
    bool VerifySignature(Sha1Hash &, const unsigned char *signature, std::size_t length) override {
        journal_.push_back("verify " + Hex(signature, length));
        return script_.verifies;
    }

private:
    Journal &journal_;
    const Script &script_;
};

class FakeBackend final : public StoreBackend {
public:
    Script script;
    Journal journal;
    std::vector<unsigned char> decoded;  // the octets DecodeCertificate was given last

    std::unique_ptr<PersonalStore> OpenPersonalStore() override {
        journal.push_back("open store");
        return script.storeOpens ? std::make_unique<FakeStore>(journal, script) : nullptr;
    }
    std::unique_ptr<SigningKey> AcquirePrivateKey(const StoreCertificate &certificate) override {
        const std::string &name = static_cast<const FakeCertificate &>(certificate).Name();
        journal.push_back("acquire key of " + name);
        return script.keyAvailable ? std::make_unique<FakeKey>(journal, script, name) : nullptr;
    }
    Decoded DecodeCertificate(const unsigned char *der, std::size_t length,
                              std::unique_ptr<StoreCertificate> &certificate) override {
        decoded.assign(der, der + length);
        journal.push_back("decode " + std::to_string(length) + " octets");
        if (!script.decoderAvailable || !script.decodes) {
            return script.decoderAvailable ? Decoded::kNotACertificate : Decoded::kNoProvider;
        }
        certificate = std::make_unique<FakeCertificate>(journal, Certificate{"given", {0x01}});
        return Decoded::kCertificate;
    }
    std::unique_ptr<VerifyingProvider> AcquireVerifyingProvider() override {
        journal.push_back("acquire provider");
        return script.providerAcquired ? std::make_unique<FakeProvider>(journal, script) : nullptr;
    }

    // Journal entries from the first one that starts with prefix on.
    Journal From(const std::string &prefix) const {
        auto first = std::find_if(journal.begin(), journal.end(),
                                  [&prefix](const std::string &entry) { return entry.rfind(prefix, 0) == 0; });
        return Journal(first, journal.end());
    }
};

// A store of certificates with the given serials, named c0, c1, ...
inline Script StoreOf(const std::vector<std::vector<unsigned char>> &serials) {
    Script script;
    for (std::size_t i = 0; i < serials.size(); ++i) {
        script.certificates.push_back({"c" + std::to_string(i), serials[i]});
    }
    return script;
}

}  // namespace fake
}  // namespace kavro

#endif  // KAVRO_TESTS_UNIT_FAKE_STORE_H
