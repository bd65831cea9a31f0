// VerifyByCSP over the scripted store backend: where the certificate comes
// from (store, PEM text, DER octets, file), the order of the checks, and the
// release order certificate, hash, provider.
#include "fake_store.h"
#include "kavro/result_code.h"
#include "sysstore/store_operations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace kavro {
namespace {

using Bytes = std::vector<unsigned char>;
using fake::FakeBackend;
using fake::Journal;
using fake::StoreOf;

const std::string kPem =
    "-----BEGIN CERTIFICATE-----\nMIIBaDCCAQ+gAwIBAgICAQIwCgYIKoZIzj0EAwIwEzERMA8GA1UEAwwIUGVtIFRl\n"
    "c3QwHhcNMjYxMjA3MjMzNzMzWhcNMzYxMjA0MjMzNzMzWjATMREwDwYDVQQDDAhQ\n-----END CERTIFICATE-----";
// The 96 octets the two body lines decode to begin so.
const Bytes kDerStart = {0x30, 0x82, 0x01, 0x68, 0x30, 0x82};

Bytes Of(const std::string &text) { return Bytes(text.begin(), text.end()); }

class VerifyByCspTest : public ::testing::Test {
protected:
    VerifyByCspTest() {
        backend.script = StoreOf({{0x05}, {0x00, 0x80, 0xA1, 0xB2, 0xC3}});
        backend.script.dialogChoice = 0;
    }

    int Verify(int certSource, const Bytes *certificate, bool withData = true, bool withSignature = true) {
        return VerifyByCSP(backend, certSource, certificate != nullptr ? certificate->data() : nullptr,
                           certificate != nullptr ? static_cast<std::int32_t>(certificate->size()) : 0,
                           withData ? data.data() : nullptr, static_cast<std::int32_t>(data.size()),
                           withSignature ? signature.data() : nullptr, static_cast<std::int32_t>(signature.size()));
    }

    std::string WriteFile(const std::string &name, const Bytes &contents) {
        std::string path = ::testing::TempDir() + "kavro_verify_" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(contents.data()),
                                                    static_cast<std::streamsize>(contents.size()));
        return path;
    }

    int VerifyFile(const std::string &path) {
        Bytes pathBytes = Of(path);
        return Verify(kCertificateFile, &pathBytes);
    }

    bool DecodedIsThePemCertificate() const {
        return backend.decoded.size() == 96 && std::equal(kDerStart.begin(), kDerStart.end(), backend.decoded.begin());
    }

    FakeBackend backend;
    Bytes data = {0xDA, 0x7A};
    Bytes signature = {0x01, 0x02, 0x03};
};

TEST_F(VerifyByCspTest, SourcesOutsideZeroToFourAreRefusedBeforeAnythingIsOpened) {
    Bytes der = {0x30};
    EXPECT_EQ(Verify(5, &der), kBadArgument);
    EXPECT_EQ(Verify(-1, &der), kBadArgument);
    EXPECT_TRUE(backend.journal.empty());
}

TEST_F(VerifyByCspTest, AStoreCertificateVerifiesAndEverythingIsReleasedInOrder) {
    EXPECT_EQ(Verify(kSelectInDialog, nullptr), kOk);
    EXPECT_EQ(backend.journal,
              (Journal{"open store", "dialog", "close store", "acquire provider", "import key of c0", "create hash",
                       "hash DA7A", "verify 010203", "free c0", "destroy hash", "release provider"}));
    Bytes serial = {0x00, 0x80, 0xA1, 0xB2, 0xC3};
    backend.journal.clear();
    EXPECT_EQ(Verify(kMatchSerial, &serial), kOk);
    EXPECT_EQ(backend.From("import").front(), "import key of c1");
}

TEST_F(VerifyByCspTest, StoreSourcesFailLikeChoosing) {
    Bytes unknown = {0x80, 0xA1, 0xB2, 0xC3};
    EXPECT_EQ(Verify(kMatchSerial, &unknown), kNoSuchObject);
    EXPECT_EQ(Verify(kMatchSerial, nullptr), kBadArgument);
    backend.script.dialogChoice = -1;
    EXPECT_EQ(Verify(kSelectInDialog, nullptr), kNoCertificateChosen);
    backend.script.storeOpens = false;
    EXPECT_EQ(Verify(kMatchSerial, &unknown), kStoreNotOpened);
    EXPECT_TRUE(backend.From("acquire provider").empty());
}

TEST_F(VerifyByCspTest, GivenCertificatesNeedTheirArrayAndOpenNoStore) {
    for (int source : {kPemText, kDerBytes, kCertificateFile}) {
        EXPECT_EQ(Verify(source, nullptr), kBadArgument) << source;
    }
    EXPECT_TRUE(backend.journal.empty());
}

TEST_F(VerifyByCspTest, PemTextIsUnwrappedAsGiven) {
    Bytes pem = Of(kPem);
    EXPECT_EQ(Verify(kPemText, &pem), kOk);
    EXPECT_TRUE(DecodedIsThePemCertificate());
    EXPECT_EQ(backend.journal.front(), "decode 96 octets");
    // Not shortened for this source: a line end after the END marker fails.
    Bytes withLineEnd = Of(kPem + "\n");
    backend.journal.clear();
    EXPECT_EQ(Verify(kPemText, &withLineEnd), kBadPem);
    EXPECT_TRUE(backend.journal.empty());
}

TEST_F(VerifyByCspTest, DerBytesGoToTheDecoderAsTheyAre) {
    Bytes der = {0x30, 0x03, 0x02, 0x01, 0x05};
    EXPECT_EQ(Verify(kDerBytes, &der), kOk);
    EXPECT_EQ(backend.decoded, der);
    backend.script.decodes = false;
    EXPECT_EQ(Verify(kDerBytes, &der), kNoCertificateChosen);
    EXPECT_EQ(backend.journal.back(), "decode 5 octets");
}

TEST_F(VerifyByCspTest, WithNothingToDecodeWithGivenCertificatesGive1306) {
    backend.script.decoderAvailable = false;
    Bytes der = {0x30, 0x03, 0x02, 0x01, 0x05};
    Bytes pem = Of(kPem);
    EXPECT_EQ(Verify(kDerBytes, &der), kNoProvider);
    EXPECT_EQ(Verify(kPemText, &pem), kNoProvider);
    EXPECT_EQ(VerifyFile(WriteFile("nodecoder.der", der)), kNoProvider);
    EXPECT_EQ(backend.journal, (Journal{"decode 5 octets", "decode 96 octets", "decode 5 octets"}));
}

TEST_F(VerifyByCspTest, GivenCertificatesLongerThanTheBuffersAreRefused) {
    Bytes big(4097, 0x30);
    EXPECT_EQ(Verify(kDerBytes, &big), kBadArgument);
    EXPECT_EQ(Verify(kPemText, &big), kBadArgument);
    Bytes longPath(260, 'a');
    EXPECT_EQ(Verify(kCertificateFile, &longPath), kBadArgument);
    EXPECT_TRUE(backend.journal.empty());
    Bytes full(4096, 0x30);
    EXPECT_EQ(Verify(kDerBytes, &full), kOk);
    EXPECT_EQ(backend.decoded.size(), 4096u);
}

TEST_F(VerifyByCspTest, PemFilesMayEndWithALineEndOrNothing) {
    for (const std::string &tail : {std::string(), std::string("\n"), std::string("\r\n"), std::string("\n\n \n")}) {
        backend.decoded.clear();
        EXPECT_EQ(VerifyFile(WriteFile("pem", Of(kPem + tail))), kOk);
        EXPECT_TRUE(DecodedIsThePemCertificate());
    }
    Bytes crlf;
    for (char c : kPem) {
        if (c == '\n') {
            crlf.push_back('\r');
        }
        crlf.push_back(static_cast<unsigned char>(c));
    }
    EXPECT_EQ(VerifyFile(WriteFile("crlf", crlf)), kOk);
    EXPECT_TRUE(DecodedIsThePemCertificate());
}

TEST_F(VerifyByCspTest, FilesNotBeginningWithTheMarkerAreDer) {
    Bytes bom = Of("\xEF\xBB\xBF" + kPem);
    EXPECT_EQ(VerifyFile(WriteFile("bom", bom)), kOk);
    EXPECT_EQ(backend.decoded, bom);
    EXPECT_EQ(VerifyFile(WriteFile("empty", {})), kOk);
    EXPECT_TRUE(backend.decoded.empty());
}

TEST_F(VerifyByCspTest, AFileThatBeginsLikePemButDoesNotUnwrapGives1202) {
    EXPECT_EQ(VerifyFile(WriteFile("badpem", Of("-----BEGIN CERTIFICATE-----\nZm9v\n-----END"))), kBadPem);
    EXPECT_TRUE(backend.journal.empty());
}

TEST_F(VerifyByCspTest, UnreadableOrOversizedFilesGive1305) {
    EXPECT_EQ(VerifyFile(::testing::TempDir() + "kavro_verify_missing/none.pem"), kCertificateFileUnreadable);
    EXPECT_EQ(VerifyFile(WriteFile("big", Bytes(4097, 0x30))), kCertificateFileUnreadable);
    EXPECT_TRUE(backend.journal.empty());
    EXPECT_EQ(VerifyFile(WriteFile("max", Bytes(4096, 0x30))), kOk);
    EXPECT_EQ(backend.decoded.size(), 4096u);
}

TEST_F(VerifyByCspTest, OnlyCertificateLengthOctetsOfThePathAreUsed) {
    std::string path = WriteFile("short", Of(kPem));
    Bytes pathAndMore = Of(path + "-and-more");
    EXPECT_EQ(VerifyByCSP(backend, kCertificateFile, pathAndMore.data(), static_cast<std::int32_t>(path.size()),
                          data.data(), 2, signature.data(), 3),
              kOk);
}

TEST_F(VerifyByCspTest, ProviderAndKeyFailures) {
    backend.script.providerAcquired = false;
    EXPECT_EQ(Verify(kSelectInDialog, nullptr), kNoProvider);
    EXPECT_EQ(backend.From("acquire provider"), (Journal{"acquire provider", "free c0"}));
    backend.script.providerAcquired = true;
    backend.script.keyImported = false;
    backend.journal.clear();
    EXPECT_EQ(Verify(kSelectInDialog, nullptr), kPublicKeyNotImported);
    EXPECT_EQ(backend.From("import"), (Journal{"import key of c0", "free c0", "release provider"}));
}

TEST_F(VerifyByCspTest, HashFailuresGive1304) {
    backend.script.hashCreated = false;
    EXPECT_EQ(Verify(kSelectInDialog, nullptr), kHashFailed);
    EXPECT_EQ(backend.From("create hash"), (Journal{"create hash", "free c0", "release provider"}));
    backend.script.hashCreated = true;
    backend.script.hashFed = false;
    backend.journal.clear();
    EXPECT_EQ(Verify(kSelectInDialog, nullptr), kHashFailed);
    EXPECT_EQ(backend.From("hash "), (Journal{"hash DA7A", "free c0", "destroy hash", "release provider"}));
}

TEST_F(VerifyByCspTest, NullDataOrSignatureIsRefusedWhereTheyWouldBeUsed) {
    EXPECT_EQ(Verify(kSelectInDialog, nullptr, false), kBadArgument);
    EXPECT_EQ(backend.From("create hash"), (Journal{"create hash", "free c0", "destroy hash", "release provider"}));
    EXPECT_EQ(Verify(kSelectInDialog, nullptr, true, false), kBadArgument);
}

TEST_F(VerifyByCspTest, ASignatureThatDoesNotVerifyGives1308) {
    backend.script.verifies = false;
    EXPECT_EQ(Verify(kSelectInDialog, nullptr), kSignatureInvalid);
    EXPECT_EQ(backend.journal.back(), "release provider");
}

}  // namespace
}  // namespace kavro
