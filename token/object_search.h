// The two building blocks of every object search on a slot's session: a
// search guard that always ends with C_FindObjectsFinal, and the
// size-then-value attribute read.
#ifndef KAVRO_TOKEN_OBJECT_SEARCH_H
#define KAVRO_TOKEN_OBJECT_SEARCH_H

#include "kavro/cryptoki.h"

#include <cstddef>
#include <vector>

namespace kavro {

using ByteBuffer = std::vector<unsigned char>;

// One object search. The constructor starts it with C_FindObjectsInit and
// does not examine the result: a search that did not start shows up as the
// error of the first C_FindObjects. The destructor ends it with
// C_FindObjectsFinal on every path, exceptions included; that result is not
// examined either, as there is nothing left to do about it.
class ObjectSearch {
public:
    ObjectSearch(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_ATTRIBUTE *searchTemplate,
                 CK_ULONG count);
    ObjectSearch(const ObjectSearch &) = delete;
    ObjectSearch &operator=(const ObjectSearch &) = delete;
    ~ObjectSearch() noexcept;

    // C_FindObjects for at most one handle; found receives how many came.
    CK_RV Next(CK_OBJECT_HANDLE &handle, CK_ULONG &found);

private:
    CK_FUNCTION_LIST *functions_;
    CK_SESSION_HANDLE session_;
};

// One attribute to read: its type in, its value out.
struct AttributeValue {
    CK_ATTRIBUTE_TYPE type;
    ByteBuffer value;
};

// The largest attribute value read: far beyond any serial number or
// CKA_ID, small enough that a module's answer can never make a read
// allocate more.
constexpr CK_ULONG kAttributeValueCap = 64 * 1024;

// Reads the values of several attributes of one object: a C_GetAttributeValue
// without buffers for the lengths, zero-filled buffers of those lengths, and
// a second C_GetAttributeValue into them. Returns the module's CK_RV when a
// call fails. A length of CK_UNAVAILABLE_INFORMATION or one beyond
// kAttributeValueCap under CKR_OK, or a fetched length beyond the buffer the
// module was given, is a failed read (CKR_FUNCTION_FAILED): such a length is
// never allocated nor believed.
CK_RV ReadAttributes(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                     AttributeValue *attributes, std::size_t count);

// Attributes of search templates. Modules only read a template; cryptoki's
// pValue is non-const all the same, so the constants are cast for it.
inline CK_ATTRIBUTE ClassAttribute(const CK_OBJECT_CLASS &objectClass) {
    return CK_ATTRIBUTE{CKA_CLASS, const_cast<CK_OBJECT_CLASS *>(&objectClass), sizeof objectClass};
}
inline CK_ATTRIBUTE OnTokenAttribute() {
    static constexpr CK_BBOOL kTrue = CK_TRUE;
    return CK_ATTRIBUTE{CKA_TOKEN, const_cast<CK_BBOOL *>(&kTrue), sizeof kTrue};
}

inline constexpr CK_OBJECT_CLASS kCertificateClass = CKO_CERTIFICATE;
inline constexpr CK_OBJECT_CLASS kPrivateKeyClass = CKO_PRIVATE_KEY;
inline constexpr CK_OBJECT_CLASS kPublicKeyClass = CKO_PUBLIC_KEY;

// The serial content of a certificate: its CKA_SERIAL_NUMBER value (a DER
// INTEGER) less the first two octets, which are dropped unread. A value
// shorter than two octets has an empty serial content.
inline std::size_t SerialContentLength(const ByteBuffer &serialNumber) {
    return serialNumber.size() < 2 ? 0 : serialNumber.size() - 2;
}
inline const unsigned char *SerialContent(const ByteBuffer &serialNumber) {
    return serialNumber.size() < 2 ? nullptr : serialNumber.data() + 2;
}

}  // namespace kavro

#endif  // KAVRO_TOKEN_OBJECT_SEARCH_H
