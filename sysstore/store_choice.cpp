// Choosing a certificate in the personal store: in the dialog or by serial,
// and ListCertByCSP, which hands the chosen certificate's serial to Java.
#include "codec/compare_bytes.h"
#include "kavro/java_range.h"
#include "kavro/result_code.h"
#include "sysstore/store_operations.h"

#include <algorithm>
#include <cstdint>

namespace kavro {

std::int32_t ReverseCopy(unsigned char *destination, const unsigned char *source, std::int32_t n) {
    if (n <= 0) {
        return 0;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        destination[i] = source[n - 1 - i];
    }
    return n;
}

std::unique_ptr<StoreCertificate> FindCertificateBySerial(PersonalStore &store, const unsigned char *serial,
                                                          std::int32_t serialLength) {
    std::vector<unsigned char> buffer(kFindSerialBuffer, 0);
    for (std::unique_ptr<StoreCertificate> certificate = store.NextCertificate(nullptr); certificate;
         certificate = store.NextCertificate(std::move(certificate))) {
        SerialBlob blob = certificate->SerialNumber();
        if (!FitsJavaLength(blob.length)) {
            continue;
        }
        if (blob.length > buffer.size()) {
            buffer.resize(blob.length);
        }
        std::int32_t length = ReverseCopy(buffer.data(), blob.data, static_cast<std::int32_t>(blob.length));
        if (CompareBytes(buffer.data(), length, serial, serialLength) == 0) {
            return certificate;
        }
    }
    return nullptr;
}

int ChooseStoreCertificate(StoreBackend &backend, int certSource, const unsigned char *serial,
                           std::int32_t serialLength, std::unique_ptr<StoreCertificate> &chosen) {
    std::unique_ptr<PersonalStore> store = backend.OpenPersonalStore();
    if (!store) {
        return kStoreNotOpened;
    }
    // The store closes when this returns; the certificate outlives it.
    if (certSource == kSelectInDialog) {
        chosen = store->SelectInDialog();
        return chosen ? kOk : kNoCertificateChosen;
    }
    if (serial == nullptr) {
        return kBadArgument;
    }
    chosen = FindCertificateBySerial(*store, serial, serialLength);
    return chosen ? kOk : kNoSuchObject;
}

bool ListCertByCSP(StoreBackend &backend, std::vector<unsigned char> &serial) {
    std::unique_ptr<PersonalStore> store = backend.OpenPersonalStore();
    if (!store) {
        return false;
    }
    std::unique_ptr<StoreCertificate> certificate = store->SelectInDialog();
    if (!certificate) {
        return false;
    }
    SerialBlob blob = certificate->SerialNumber();
    if (!FitsJavaLength(blob.length)) {
        return false;
    }
    std::vector<unsigned char> buffer(std::max(kListSerialBuffer, blob.length), 0);
    std::int32_t length = ReverseCopy(buffer.data(), blob.data, static_cast<std::int32_t>(blob.length));
    serial.assign(buffer.begin(), buffer.begin() + length);
    // The store is closed first, then the certificate freed.
    store.reset();
    return true;
}

}  // namespace kavro
