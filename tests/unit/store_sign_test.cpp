// SignByCSP over the scripted store backend: the order of its checks, what
// it writes, and that every handle goes in the order hash, certificate, key.
#include "fake_store.h"
#include "kavro/result_code.h"
#include "sysstore/store_operations.h"

#include <gtest/gtest.h>

namespace kavro {
namespace {

using Bytes = std::vector<unsigned char>;
using fake::FakeBackend;
using fake::Journal;
using fake::StoreOf;

class SignByCspTest : public ::testing::Test {
protected:
    SignByCspTest() {
        backend.script = StoreOf({{0x05}, {0x00, 0x80, 0xA1, 0xB2, 0xC3}});
        backend.script.dialogChoice = 1;
    }

    int Sign(int certSource, const Bytes *serial = nullptr, bool withData = true, bool withSignature = true,
             bool withLength = true) {
        SignatureOutput output = {withSignature ? signature.data() : nullptr, signature.size(),
                                  withLength ? &signatureLength : nullptr};
        return SignByCSP(backend, certSource, serial != nullptr ? serial->data() : nullptr,
                         serial != nullptr ? static_cast<std::int32_t>(serial->size()) : 0,
                         withData ? data.data() : nullptr, static_cast<std::int32_t>(data.size()), output);
    }

    void ExpectUntouched() {
        EXPECT_EQ(signature, Bytes(300, 0xEE));
        EXPECT_EQ(signatureLength, -7);
    }

    FakeBackend backend;
    Bytes data = {0xDA, 0x7A};
    Bytes signature = Bytes(300, 0xEE);
    std::int32_t signatureLength = -7;
};

TEST_F(SignByCspTest, OtherSourcesAreRefusedBeforeAnythingIsOpened) {
    for (int source : {2, 3, 4, 5, -1}) {
        EXPECT_EQ(Sign(source), kBadArgument) << source;
    }
    EXPECT_TRUE(backend.journal.empty());
    ExpectUntouched();
}

TEST_F(SignByCspTest, SignsWithTheChosenCertificatesKey) {
    EXPECT_EQ(Sign(kSelectInDialog), kOk);
    EXPECT_EQ(signatureLength, 256);
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(signature[i], static_cast<unsigned char>(i + 1)) << i;
    }
    EXPECT_EQ(signature[256], 0xEE);
    EXPECT_EQ(backend.journal,
              (Journal{"open store", "dialog", "close store", "acquire key of c1", "create hash", "hash DA7A",
                       "sign hash, room 1000", "destroy hash", "free c1", "release key provider"}));
}

TEST_F(SignByCspTest, MatchSerialFindsTheKeyByItsCertificate) {
    Bytes serial = {0x05};
    EXPECT_EQ(Sign(kMatchSerial, &serial), kOk);
    EXPECT_EQ(backend.From("acquire").front(), "acquire key of c0");
}

TEST_F(SignByCspTest, StoreAndChoiceFailuresComeFirst) {
    Bytes unknown = {0x06};
    EXPECT_EQ(Sign(kMatchSerial, &unknown), kNoSuchObject);
    EXPECT_EQ(Sign(kMatchSerial, nullptr), kBadArgument);
    backend.script.dialogChoice = -1;
    EXPECT_EQ(Sign(kSelectInDialog), kNoCertificateChosen);
    backend.script.storeOpens = false;
    EXPECT_EQ(Sign(kSelectInDialog), kStoreNotOpened);
    EXPECT_TRUE(backend.From("acquire").empty());
    ExpectUntouched();
}

TEST_F(SignByCspTest, NoKeyGives1303AndFreesTheCertificate) {
    backend.script.keyAvailable = false;
    EXPECT_EQ(Sign(kSelectInDialog), kNoPrivateKey);
    EXPECT_EQ(backend.From("acquire"), (Journal{"acquire key of c1", "free c1"}));
    ExpectUntouched();
}

TEST_F(SignByCspTest, NullOutputsAreRefusedOnlyAfterTheKeyWasAcquired) {
    EXPECT_EQ(Sign(kSelectInDialog, nullptr, false), kBadArgument);
    EXPECT_EQ(backend.From("acquire"), (Journal{"acquire key of c1", "free c1", "release key provider"}));
    backend.journal.clear();
    EXPECT_EQ(Sign(kSelectInDialog, nullptr, true, false), kBadArgument);
    EXPECT_EQ(backend.From("dialog").size(), 5u);
    EXPECT_EQ(Sign(kSelectInDialog, nullptr, true, true, false), kBadArgument);
    ExpectUntouched();
}

TEST_F(SignByCspTest, HashFailuresGive1304) {
    backend.script.hashCreated = false;
    EXPECT_EQ(Sign(kSelectInDialog), kHashFailed);
    EXPECT_EQ(backend.From("create hash"), (Journal{"create hash", "free c1", "release key provider"}));
    backend.script.hashCreated = true;
    backend.script.hashFed = false;
    backend.journal.clear();
    EXPECT_EQ(Sign(kSelectInDialog), kHashFailed);
    EXPECT_EQ(backend.From("hash "), (Journal{"hash DA7A", "destroy hash", "free c1", "release key provider"}));
    ExpectUntouched();
}

TEST_F(SignByCspTest, ASigningFailureGives1309) {
    backend.script.signs = false;
    EXPECT_EQ(Sign(kSelectInDialog), kSigningFailed);
    // A signature beyond the 1000-octet buffer is the platform's failure.
    backend.script.signs = true;
    backend.script.signatureLength = 1001;
    EXPECT_EQ(Sign(kSelectInDialog), kSigningFailed);
    EXPECT_EQ(backend.journal.back(), "release key provider");
    ExpectUntouched();
}

TEST_F(SignByCspTest, ASignatureArrayTooShortIsLeftAsItWas) {
    signature.assign(255, 0xEE);
    EXPECT_EQ(Sign(kSelectInDialog), kBadArgument);
    EXPECT_EQ(signature, Bytes(255, 0xEE));
    EXPECT_EQ(signatureLength, -7);
    EXPECT_EQ(backend.journal.back(), "release key provider");
    signature.assign(256, 0xEE);
    EXPECT_EQ(Sign(kSelectInDialog), kOk);
    EXPECT_EQ(signatureLength, 256);
}

TEST_F(SignByCspTest, EmptyDataIsSigned) {
    data.clear();
    EXPECT_EQ(Sign(kSelectInDialog), kOk);
    EXPECT_EQ(backend.From("hash ").front(), "hash ");
}

}  // namespace
}  // namespace kavro
