// The object search guard, the size-then-value attribute read and
// CompareBytes, against a scripted function list: what is called, what is
// believed of the lengths a module reports, and that every search ends.
#include "codec/compare_bytes.h"
#include "token/object_search.h"
#include "token/token_slot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace kavro {
namespace {

struct FakeObject {
    CK_OBJECT_HANDLE handle;
    ByteBuffer serialNumber;
    CK_ULONG announced = 0;  // size query answer; 0: the value's size
    CK_ULONG fetched = 0;    // length reported after the fetch; 0: the value's size
};

struct FakeToken {
    std::vector<FakeObject> objects;
    std::size_t next = 0;
    int searchesOpen = 0;
    std::vector<std::string> calls;
};

FakeToken *token;

CK_RV FakeFindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE *, CK_ULONG) {
    token->calls.push_back("C_FindObjectsInit");
    ++token->searchesOpen;
    token->next = 0;
    return CKR_OK;
}

CK_RV FakeFindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE *handles, CK_ULONG, CK_ULONG *found) {
    token->calls.push_back("C_FindObjects");
    *found = 0;
    if (token->next < token->objects.size()) {
        handles[0] = token->objects[token->next++].handle;
        *found = 1;
    }
    return CKR_OK;
}

CK_RV FakeFindObjectsFinal(CK_SESSION_HANDLE) {
    token->calls.push_back("C_FindObjectsFinal");
    --token->searchesOpen;
    return CKR_OK;
}

CK_RV FakeGetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE *attributes, CK_ULONG count) {
    token->calls.push_back(attributes[0].pValue == nullptr ? "size" : "fetch");
    for (FakeObject &object : token->objects) {
        if (object.handle != handle) {
            continue;
        }
        for (CK_ULONG i = 0; i < count; ++i) {
            const ByteBuffer &value = object.serialNumber;
            if (attributes[i].pValue == nullptr) {
                attributes[i].ulValueLen = object.announced != 0 ? object.announced : value.size();
            } else {
                CK_ULONG room = attributes[i].ulValueLen;
                std::memcpy(attributes[i].pValue, value.data(), std::min<std::size_t>(room, value.size()));
                attributes[i].ulValueLen = object.fetched != 0 ? object.fetched : value.size();
            }
        }
        return CKR_OK;
    }
    return CKR_OBJECT_HANDLE_INVALID;
}

class ObjectSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        token = &fake;
        std::memset(&functions, 0, sizeof functions);
        functions.C_FindObjectsInit = FakeFindObjectsInit;
        functions.C_FindObjects = FakeFindObjects;
        functions.C_FindObjectsFinal = FakeFindObjectsFinal;
        functions.C_GetAttributeValue = FakeGetAttributeValue;
    }

    FakeToken fake;
    CK_FUNCTION_LIST functions;
};

TEST_F(ObjectSearchTest, SearchEndsWhenLeftByException) {
    CK_ATTRIBUTE none[1] = {};
    try {
        ObjectSearch search(&functions, 7, none, 0);
        throw std::bad_alloc();
    } catch (const std::bad_alloc &) {
    }
    EXPECT_EQ(0, fake.searchesOpen);
    EXPECT_EQ((std::vector<std::string>{"C_FindObjectsInit", "C_FindObjectsFinal"}), fake.calls);
}

TEST_F(ObjectSearchTest, AttributeIsSizedThenFetched) {
    fake.objects = {{5, {0x02, 0x03, 0x00, 0x8A, 0x01}}};
    AttributeValue value{CKA_SERIAL_NUMBER, {}};
    ASSERT_EQ(CKR_OK, ReadAttributes(&functions, 7, 5, &value, 1));
    EXPECT_EQ((ByteBuffer{0x02, 0x03, 0x00, 0x8A, 0x01}), value.value);
    EXPECT_EQ((std::vector<std::string>{"size", "fetch"}), fake.calls);
}

TEST_F(ObjectSearchTest, UnavailableLengthIsAFailedReadNotASize) {
    FakeObject object{5, {0x02, 0x01, 0x05}};
    object.announced = CK_UNAVAILABLE_INFORMATION;
    fake.objects = {object};
    AttributeValue value{CKA_SERIAL_NUMBER, {}};
    EXPECT_EQ(CKR_FUNCTION_FAILED, ReadAttributes(&functions, 7, 5, &value, 1));
    EXPECT_EQ((std::vector<std::string>{"size"}), fake.calls);
}

TEST_F(ObjectSearchTest, FetchedLengthBeyondTheBufferIsNotBelieved) {
    FakeObject object{5, {0x02, 0x01, 0x05}};
    object.fetched = 300;
    fake.objects = {object};
    AttributeValue value{CKA_SERIAL_NUMBER, {}};
    EXPECT_EQ(CKR_FUNCTION_FAILED, ReadAttributes(&functions, 7, 5, &value, 1));

    object.fetched = CK_UNAVAILABLE_INFORMATION;
    fake.objects = {object};
    EXPECT_EQ(CKR_FUNCTION_FAILED, ReadAttributes(&functions, 7, 5, &value, 1));
}

TEST_F(ObjectSearchTest, ShorterFetchedLengthIsKept) {
    FakeObject object{5, {0x02, 0x01, 0x05}};
    object.announced = 10;
    fake.objects = {object};
    AttributeValue value{CKA_SERIAL_NUMBER, {}};
    ASSERT_EQ(CKR_OK, ReadAttributes(&functions, 7, 5, &value, 1));
    EXPECT_EQ((ByteBuffer{0x02, 0x01, 0x05}), value.value);
}

TEST_F(ObjectSearchTest, ListingStagesSerialContentsAndEndsTheSearch) {
    // A value shorter than two octets has an empty serial content.
    fake.objects = {{3, {0x02, 0x01, 0x05}}, {4, {0x02}}, {9, {}}, {6, {0x02, 0x02, 0x0A, 0x0B}}};
    std::vector<ByteBuffer> serials;
    CK_ULONG count = 99;
    EXPECT_EQ(CKR_OK, TokenSlot::ListCertificateSerials(&functions, 7, &serials, count));
    EXPECT_EQ(4u, count);
    EXPECT_EQ((std::vector<ByteBuffer>{{0x05}, {}, {}, {0x0A, 0x0B}}), serials);
    EXPECT_EQ(0, fake.searchesOpen);
}

TEST_F(ObjectSearchTest, AnImpossibleAttributeSizeIsAFailedReadAndLeavesNoSearchOpen) {
    FakeObject object{3, {0x02, 0x01, 0x05}};
    // More than any buffer can hold: never allocated, the read fails.
    object.announced = static_cast<CK_ULONG>(-2);
    fake.objects = {object};
    std::vector<ByteBuffer> serials;
    CK_ULONG count = 9;
    EXPECT_EQ(CKR_FUNCTION_FAILED, TokenSlot::ListCertificateSerials(&functions, 7, &serials, count));
    EXPECT_EQ(0u, count);
    EXPECT_TRUE(serials.empty());
    EXPECT_EQ(0, fake.searchesOpen);
    EXPECT_EQ("C_FindObjectsFinal", fake.calls.back());
}

TEST_F(ObjectSearchTest, LengthsBeyondTheCapAreFailedReadsWithoutAnAllocation) {
    FakeObject object{5, ByteBuffer(kAttributeValueCap, 0x01)};
    fake.objects = {object};
    AttributeValue value{CKA_ID, {}};
    ASSERT_EQ(CKR_OK, ReadAttributes(&functions, 7, 5, &value, 1));
    EXPECT_EQ(kAttributeValueCap, value.value.size());
    // 2^33 octets (where CK_ULONG can say so) would once have been allocated.
    for (CK_ULONG announced :
         {kAttributeValueCap + 1, static_cast<CK_ULONG>(sizeof(CK_ULONG) > 4 ? 0x200000000ULL : 0x80000000ULL)}) {
        object.announced = announced;
        fake.objects = {object};
        fake.calls.clear();
        EXPECT_EQ(CKR_FUNCTION_FAILED, ReadAttributes(&functions, 7, 5, &value, 1)) << announced;
        EXPECT_EQ((std::vector<std::string>{"size"}), fake.calls);
    }
}

TEST_F(ObjectSearchTest, LongSerialIsComparedAndItsIdKeptWhole) {
    // Longer than a 50-octet staging slot.
    ByteBuffer serialNumber{0x02, 60};
    for (int i = 0; i < 60; ++i) serialNumber.push_back(static_cast<unsigned char>(i + 1));
    fake.objects = {{3, serialNumber}};
    ByteBuffer id;
    // The fake answers CKA_ID with the same 62 octets.
    EXPECT_EQ(CKR_OK, TokenSlot::FindCertificateId(&functions, 7, serialNumber.data() + 2, 60, id));
    EXPECT_EQ(serialNumber, id);
    EXPECT_EQ(0, fake.searchesOpen);
}

TEST(CompareBytesTest, EqualOnlyWithEqualLengthsAndOctets) {
    const unsigned char a[] = {0x00, 0x80, 0xA1};
    const unsigned char b[] = {0x00, 0x80, 0xA1};
    const unsigned char c[] = {0x00, 0x80, 0xA2};
    EXPECT_EQ(0, CompareBytes(a, 3, b, 3));
    EXPECT_EQ(1, CompareBytes(a, 3, c, 3));
    EXPECT_EQ(1, CompareBytes(a, 2, b, 3));
    EXPECT_EQ(0, CompareBytes(a, 2, c, 2));
    // Without its leading 00 a serial is another serial.
    EXPECT_EQ(1, CompareBytes(a + 1, 2, b, 3));
}

TEST(CompareBytesTest, EqualLengthsOfZeroOrLessNeedNoOctets) {
    EXPECT_EQ(0, CompareBytes(nullptr, 0, nullptr, 0));
    EXPECT_EQ(0, CompareBytes(nullptr, -1, nullptr, -1));
    EXPECT_EQ(1, CompareBytes(nullptr, -1, nullptr, 0));
}

}  // namespace
}  // namespace kavro
