// Certificate listing: the serial contents of the token's certificates, in
// the order the module returns them, and one certificate's attributes.
#include "kavro/result_code.h"
#include "token/object_search.h"
#include "token/token_slot.h"

#include <utility>

namespace kavro {

CK_RV TokenSlot::ListCertificateSerials(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session,
                                        std::vector<ByteBuffer> *serials, CK_ULONG &count) {
    count = 0;
    CK_ATTRIBUTE certificateTemplate[] = {ClassAttribute(kCertificateClass), OnTokenAttribute()};
    ObjectSearch search(functions, session, certificateTemplate, 2);
    CK_OBJECT_HANDLE object = 0;
    CK_ULONG found = 0;
    CK_RV rv = search.Next(object, found);
    while (rv == CKR_OK && found == 1) {
        if (serials != nullptr) {
            AttributeValue serialNumber{CKA_SERIAL_NUMBER, {}};
            rv = ReadAttributes(functions, session, object, &serialNumber, 1);
            if (rv != CKR_OK) {
                break;
            }
            const unsigned char *content = SerialContent(serialNumber.value);
            serials->emplace_back(content, content + SerialContentLength(serialNumber.value));
        }
        ++count;
        rv = search.Next(object, found);
    }
    return rv;
}

CK_RV TokenSlot::ReadCertificate(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, std::int32_t ordinal,
                                 CertificateObject &certificate) {
    if (ordinal <= 0) {
        return kNoSuchObject;
    }
    CK_ATTRIBUTE certificateTemplate[] = {ClassAttribute(kCertificateClass), OnTokenAttribute()};
    ObjectSearch search(functions, session, certificateTemplate, 2);
    CK_OBJECT_HANDLE object = 0;
    for (std::int32_t pass = 0; pass < ordinal; ++pass) {
        CK_ULONG found = 0;
        CK_RV rv = search.Next(object, found);
        if (rv != CKR_OK) {
            return rv;
        }
        if (found != 1) {
            return kNoSuchObject;
        }
    }
    AttributeValue value{CKA_VALUE, {}};
    CK_RV rv = ReadAttributes(functions, session, object, &value, 1);
    if (rv != CKR_OK) {
        return rv;
    }
    certificate.value = std::move(value.value);
    // Each read on its own: a certificate without a label is still a certificate.
    AttributeValue optional[] = {{CKA_LABEL, {}}, {CKA_ID, {}}, {CKA_SERIAL_NUMBER, {}}};
    for (AttributeValue &attribute : optional) {
        if (ReadAttributes(functions, session, object, &attribute, 1) != CKR_OK) {
            attribute.value.clear();
        }
    }
    certificate.label = std::move(optional[0].value);
    certificate.id = std::move(optional[1].value);
    const ByteBuffer &serialNumber = optional[2].value;
    const unsigned char *content = SerialContent(serialNumber);
    certificate.serial.assign(content, content + SerialContentLength(serialNumber));
    return kOk;
}

}  // namespace kavro
