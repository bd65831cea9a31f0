// Certificate serial listing: the serial contents of the token's
// certificates, in the order the module returns them.
#include "token/object_search.h"
#include "token/token_slot.h"

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

}  // namespace kavro
