// ReverseCopy, FindCertificateBySerial, ChooseStoreCertificate and
// ListCertByCSP over the scripted store backend; the selection dialog from
// two threads over a backend that notes dialogs open at once.
#include "fake_store.h"
#include "kavro/result_code.h"
#include "sysstore/store_operations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kavro {
namespace {

using Bytes = std::vector<unsigned char>;
using fake::FakeBackend;
using fake::Journal;
using fake::StoreOf;

TEST(ReverseCopy, ReversesCountOctets) {
    const unsigned char source[] = {0xC3, 0xB2, 0xA1, 0x80, 0x00};
    unsigned char destination[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ReverseCopy(destination, source, 5), 5);
    EXPECT_EQ(Bytes(destination, destination + 6), (Bytes{0x00, 0x80, 0xA1, 0xB2, 0xC3, 9}));
}

TEST(ReverseCopy, ZeroOrNegativeCountsCopyNothing) {
    const unsigned char source[] = {1, 2};
    unsigned char destination[2] = {9, 9};
    EXPECT_EQ(ReverseCopy(destination, source, 0), 0);
    EXPECT_EQ(ReverseCopy(destination, source, -4), 0);
    EXPECT_EQ(Bytes(destination, destination + 2), (Bytes{9, 9}));
}

class FindBySerial : public ::testing::Test {
protected:
    std::string Find(const Bytes &serial, std::int32_t length) {
        std::unique_ptr<PersonalStore> store = backend.OpenPersonalStore();
        std::unique_ptr<StoreCertificate> found = FindCertificateBySerial(*store, serial.data(), length);
        std::string name = found ? static_cast<fake::FakeCertificate &>(*found).Name() : "none";
        found.reset();
        store.reset();
        ExpectEveryCertificateFreedOnce();
        return name;
    }
    void ExpectEveryCertificateFreedOnce() {
        std::size_t enumerated = 0;
        std::size_t freed = 0;
        for (const std::string &entry : backend.journal) {
            enumerated += entry.rfind("enumerate c", 0) == 0;
            freed += entry.rfind("free ", 0) == 0;
        }
        EXPECT_EQ(enumerated, freed);
    }
    FakeBackend backend;
};

TEST_F(FindBySerial, MatchesTheExactSerialContent) {
    backend.script = StoreOf({{0x05}, {0x00, 0x80, 0xA1, 0xB2, 0xC3}, {0x0A, 0x0B}});
    EXPECT_EQ(Find({0x00, 0x80, 0xA1, 0xB2, 0xC3}, 5), "c1");
    EXPECT_EQ(Find({0x80, 0xA1, 0xB2, 0xC3}, 4), "none");  // the leading 0x00 is needed
    EXPECT_EQ(Find({0x00, 0x80, 0xA1, 0xB2, 0xC3}, 4), "none");  // one octet short
    EXPECT_EQ(Find({0x05}, 1), "c0");
    EXPECT_EQ(Find({0x0A, 0x0B, 0x0C}, 2), "c2");  // serialLength, not the array, decides
}

TEST_F(FindBySerial, TheFirstInEnumerationOrderWinsAndTheRestIsNotVisited) {
    backend.script = StoreOf({{0x01}, {0x07}, {0x07}, {0x09}});
    EXPECT_EQ(Find({0x07}, 1), "c1");
    EXPECT_EQ(backend.journal.back(), "close store");
    EXPECT_EQ(std::count(backend.journal.begin(), backend.journal.end(), "enumerate c3"), 0);
}

TEST_F(FindBySerial, LengthZeroMatchesOnlyAnEmptySerial) {
    backend.script = StoreOf({{0x00}, {0x05}});
    EXPECT_EQ(Find({}, 0), "none");
    backend.script = StoreOf({{0x05}, {}});
    EXPECT_EQ(Find({}, 0), "c1");
}

TEST_F(FindBySerial, SerialsLongerThanTheBufferAreCompared) {
    Bytes longSerial(150);
    for (std::size_t i = 0; i < longSerial.size(); ++i) {
        longSerial[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    Bytes almost = longSerial;
    almost[149] ^= 1;
    backend.script = StoreOf({almost, longSerial});
    EXPECT_EQ(Find(longSerial, 150), "c1");
}

TEST_F(FindBySerial, AnEmptyStoreFindsNothing) {
    EXPECT_EQ(Find({0x05}, 1), "none");
    EXPECT_EQ(backend.journal, (Journal{"open store", "enumerate: end", "close store"}));
}

TEST(ChooseStoreCertificate, NoStoreGives1301) {
    FakeBackend backend;
    backend.script.storeOpens = false;
    std::unique_ptr<StoreCertificate> chosen;
    EXPECT_EQ(ChooseStoreCertificate(backend, kSelectInDialog, nullptr, 0, chosen), kStoreNotOpened);
    const unsigned char serial[] = {5};
    EXPECT_EQ(ChooseStoreCertificate(backend, kMatchSerial, serial, 1, chosen), kStoreNotOpened);
    EXPECT_EQ(backend.journal, (Journal{"open store", "open store"}));
}

TEST(ChooseStoreCertificate, TheDialogChoosesAndTheStoreClosesBeforeTheCertificateGoes) {
    FakeBackend backend;
    backend.script = StoreOf({{0x05}, {0x06}});
    backend.script.dialogChoice = 1;
    std::unique_ptr<StoreCertificate> chosen;
    EXPECT_EQ(ChooseStoreCertificate(backend, kSelectInDialog, nullptr, -1, chosen), kOk);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(static_cast<fake::FakeCertificate &>(*chosen).Name(), "c1");
    EXPECT_EQ(backend.journal, (Journal{"open store", "dialog", "close store"}));
}

TEST(ChooseStoreCertificate, CancelGives1302WithTheStoreClosed) {
    FakeBackend backend;
    backend.script = StoreOf({{0x05}});
    std::unique_ptr<StoreCertificate> chosen;
    EXPECT_EQ(ChooseStoreCertificate(backend, kSelectInDialog, nullptr, 0, chosen), kNoCertificateChosen);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(backend.journal, (Journal{"open store", "dialog", "close store"}));
}

TEST(ChooseStoreCertificate, MatchSerialWithoutSerialGives1003AfterTheStoreOpened) {
    FakeBackend backend;
    backend.script = StoreOf({{0x05}});
    std::unique_ptr<StoreCertificate> chosen;
    EXPECT_EQ(ChooseStoreCertificate(backend, kMatchSerial, nullptr, 1, chosen), kBadArgument);
    EXPECT_EQ(backend.journal, (Journal{"open store", "close store"}));
}

TEST(ChooseStoreCertificate, AnUnknownSerialGives1011) {
    FakeBackend backend;
    backend.script = StoreOf({{0x05}});
    const unsigned char serial[] = {0x06};
    std::unique_ptr<StoreCertificate> chosen;
    EXPECT_EQ(ChooseStoreCertificate(backend, kMatchSerial, serial, 1, chosen), kNoSuchObject);
    EXPECT_EQ(backend.journal, (Journal{"open store", "enumerate c0", "free c0", "enumerate: end", "close store"}));
}

TEST(ListCertByCSP, GivesTheChosenSerialMostSignificantFirst) {
    FakeBackend backend;
    backend.script = StoreOf({{0x05}, {0x00, 0x80, 0xA1, 0xB2, 0xC3}});
    backend.script.dialogChoice = 1;
    Bytes serial;
    EXPECT_TRUE(ListCertByCSP(backend, serial));
    EXPECT_EQ(serial, (Bytes{0x00, 0x80, 0xA1, 0xB2, 0xC3}));
    EXPECT_EQ(backend.journal, (Journal{"open store", "dialog", "close store", "free c1"}));
    backend.script.dialogChoice = 0;
    EXPECT_TRUE(ListCertByCSP(backend, serial));
    EXPECT_EQ(serial, Bytes{0x05});
}

TEST(ListCertByCSP, SerialsLongerThanTheBufferComeWhole) {
    FakeBackend backend;
    Bytes longSerial(120);
    for (std::size_t i = 0; i < longSerial.size(); ++i) {
        longSerial[i] = static_cast<unsigned char>(0x7F - i);
    }
    backend.script = StoreOf({longSerial});
    backend.script.dialogChoice = 0;
    Bytes serial;
    EXPECT_TRUE(ListCertByCSP(backend, serial));
    EXPECT_EQ(serial, longSerial);
}

TEST(ListCertByCSP, NoStoreOrNoChoiceGivesNothing) {
    FakeBackend backend;
    backend.script = StoreOf({{0x05}});
    Bytes serial;
    EXPECT_FALSE(ListCertByCSP(backend, serial));
    EXPECT_EQ(backend.journal, (Journal{"open store", "dialog", "close store"}));
    backend.script.storeOpens = false;
    EXPECT_FALSE(ListCertByCSP(backend, serial));
    EXPECT_TRUE(serial.empty());
}

// A backend whose dialogs note whether two were ever open at once. Each
// stays open until another opens, or at most a while, and is then
// cancelled; the bound only keeps a dialog that nobody joins from waiting
// forever.
class DialogOverlap final : public StoreBackend {
public:
    int Shown() {
        std::lock_guard<std::mutex> lock(mutex_);
        return shown_;
    }
    bool Overlapped() {
        std::lock_guard<std::mutex> lock(mutex_);
        return overlapped_;
    }

    std::unique_ptr<PersonalStore> OpenPersonalStore() override { return std::make_unique<Store>(*this); }
    std::unique_ptr<SigningKey> AcquirePrivateKey(const StoreCertificate &) override { return nullptr; }
    Decoded DecodeCertificate(const unsigned char *, std::size_t, std::unique_ptr<StoreCertificate> &) override {
        return Decoded::kNoProvider;
    }
    std::unique_ptr<VerifyingProvider> AcquireVerifyingProvider() override { return nullptr; }

private:
    class Store final : public PersonalStore {
    public:
        explicit Store(DialogOverlap &backend) : backend_(backend) {}
        std::unique_ptr<StoreCertificate> SelectInDialog() override {
            backend_.Show();
            return nullptr;
        }
        std::unique_ptr<StoreCertificate> NextCertificate(std::unique_ptr<StoreCertificate>) override {
            return nullptr;
        }

    private:
        DialogOverlap &backend_;
    };

    void Show() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++shown_;
        overlapped_ = overlapped_ || ++open_ > 1;
        opened_.notify_all();
        opened_.wait_for(lock, std::chrono::milliseconds(300), [this] { return open_ > 1; });
        --open_;
    }

    std::mutex mutex_;
    std::condition_variable opened_;
    int open_ = 0;
    int shown_ = 0;
    bool overlapped_ = false;
};

TEST(SelectionDialog, IsShownToOneThreadAtATime) {
    DialogOverlap backend;
    Bytes serial;
    std::unique_ptr<StoreCertificate> chosen;
    std::thread listing([&] { EXPECT_FALSE(ListCertByCSP(backend, serial)); });
    std::thread choosing([&] {
        EXPECT_EQ(ChooseStoreCertificate(backend, kSelectInDialog, nullptr, 0, chosen), kNoCertificateChosen);
    });
    listing.join();
    choosing.join();
    EXPECT_EQ(backend.Shown(), 2);
    EXPECT_FALSE(backend.Overlapped());
}

}  // namespace
}  // namespace kavro
