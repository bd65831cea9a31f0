// Key object lookup: the n-th key of a class, the certificate with a given
// serial content, and the key that shares that certificate's CKA_ID.
#include "codec/compare_bytes.h"
#include "kavro/result_code.h"
#include "kavro/java_range.h"
#include "token/object_search.h"
#include "token/token_slot.h"

#include <cstdint>
#include <utility>

namespace kavro {
namespace {

// The n-th key of a class in the module's order. The public-key search
// clears the handle place before every C_FindObjects and writes each key
// found, so a failed search leaves 0; the private-key search writes the place
// only on success.
CK_RV FindKeyByOrdinal(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const CK_OBJECT_CLASS &keyClass,
                       CK_OBJECT_HANDLE &handle, std::int32_t ordinal) {
    // Positions count from 1: nothing stands at 0 or before it, and no
    // search is started for them.
    if (ordinal <= 0) {
        return kNoSuchObject;
    }
    const bool clearing = keyClass == CKO_PUBLIC_KEY;
    CK_ATTRIBUTE keyTemplate[] = {ClassAttribute(keyClass), OnTokenAttribute()};
    ObjectSearch search(functions, session, keyTemplate, 2);
    CK_OBJECT_HANDLE key = 0;
    for (std::int32_t pass = 0; pass < ordinal; ++pass) {
        if (clearing) {
            handle = 0;
        }
        CK_ULONG found = 0;
        CK_RV rv = search.Next(key, found);
        if (rv != CKR_OK) {
            return rv;
        }
        if (found != 1) {
            return kNoSuchObject;
        }
        if (clearing && FitsJavaId(key)) {
            handle = key;
        }
    }
    if (!FitsJavaId(key)) {
        return kNoSuchObject;
    }
    handle = key;
    return kOk;
}

// The first key of the class whose CKA_ID equals id.
CK_RV FindKeyById(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const CK_OBJECT_CLASS &keyClass,
                  const unsigned char *id, CK_ULONG idLength, CK_OBJECT_HANDLE &handle) {
    CK_ATTRIBUTE keyTemplate[] = {ClassAttribute(keyClass), OnTokenAttribute(),
                                  {CKA_ID, const_cast<unsigned char *>(id), idLength}};
    ObjectSearch search(functions, session, keyTemplate, 3);
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    CK_RV rv = search.Next(key, found);
    if (rv != CKR_OK) {
        return rv;
    }
    if (found != 1 || !FitsJavaId(key)) {
        return kNoKeyWithCertificateId;
    }
    handle = key;
    return kOk;
}

}  // namespace

CK_RV TokenSlot::FindPrivateKeyByOrdinal(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE &handle,
                                         std::int32_t ordinal) {
    return FindKeyByOrdinal(functions, session, kPrivateKeyClass, handle, ordinal);
}

CK_RV TokenSlot::FindPublicKeyByOrdinal(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE &handle,
                                        std::int32_t ordinal) {
    return FindKeyByOrdinal(functions, session, kPublicKeyClass, handle, ordinal);
}

CK_RV TokenSlot::FindCertificateId(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const unsigned char *serial,
                                   std::int32_t serialLength, ByteBuffer &id) {
    CK_ATTRIBUTE certificateTemplate[] = {ClassAttribute(kCertificateClass), OnTokenAttribute()};
    ObjectSearch search(functions, session, certificateTemplate, 2);
    CK_OBJECT_HANDLE object = 0;
    CK_ULONG found = 0;
    CK_RV rv = search.Next(object, found);
    while (rv == CKR_OK && found == 1) {
        AttributeValue attributes[] = {{CKA_ID, {}}, {CKA_SERIAL_NUMBER, {}}};
        // A certificate that cannot be read ends the search: later ones are
        // not looked at.
        if (ReadAttributes(functions, session, object, attributes, 2) != CKR_OK) {
            break;
        }
        const ByteBuffer &serialNumber = attributes[1].value;
        const std::size_t contentLength = SerialContentLength(serialNumber);
        if (FitsJavaLength(contentLength) &&
            CompareBytes(serial, serialLength, SerialContent(serialNumber), static_cast<std::int32_t>(contentLength)) ==
                0) {
            id = std::move(attributes[0].value);
            return kOk;
        }
        rv = search.Next(object, found);
    }
    return kNoCertificateWithSerial;
}

CK_RV TokenSlot::FindPrivateKeyById(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const unsigned char *id, CK_ULONG idLength,
                                    CK_OBJECT_HANDLE &handle) {
    return FindKeyById(functions, session, kPrivateKeyClass, id, idLength, handle);
}

CK_RV TokenSlot::FindPublicKeyById(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const unsigned char *id, CK_ULONG idLength,
                                   CK_OBJECT_HANDLE &handle) {
    return FindKeyById(functions, session, kPublicKeyClass, id, idLength, handle);
}

CK_RV TokenSlot::FindPrivateKeyByCertSerial(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const unsigned char *serial,
                                            std::int32_t serialLength, CK_OBJECT_HANDLE &handle) {
    ByteBuffer id;
    CK_RV rv = FindCertificateId(functions, session, serial, serialLength, id);
    if (rv != kOk) {
        return rv;
    }
    return FindPrivateKeyById(functions, session, id.data(), static_cast<CK_ULONG>(id.size()), handle);
}

CK_RV TokenSlot::FindPublicKeyByCertSerial(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const unsigned char *serial,
                                           std::int32_t serialLength, CK_OBJECT_HANDLE &handle) {
    ByteBuffer id;
    CK_RV rv = FindCertificateId(functions, session, serial, serialLength, id);
    if (rv != kOk) {
        return rv;
    }
    return FindPublicKeyById(functions, session, id.data(), static_cast<CK_ULONG>(id.size()), handle);
}

}  // namespace kavro
