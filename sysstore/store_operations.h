// The personal-store operations behind ListCertByCSP, SignByCSP and
// VerifyByCSP, written once over the store seam (store_seam.h). They take the
// Java data already pinned by the entry point: a pointer is null when the
// Java array was null, and every length has been checked against its array.
#ifndef KAVRO_SYSSTORE_STORE_OPERATIONS_H
#define KAVRO_SYSSTORE_STORE_OPERATIONS_H

#include "sysstore/store_seam.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kavro {

// How a store operation obtains its certificate.
enum CertSource : int {
    kSelectInDialog = 0,
    kMatchSerial = 1,
    kPemText = 2,
    kDerBytes = 3,
    kCertificateFile = 4,
};

// Working storage sizes. Serials longer than the serial buffers are handled
// in storage sized to them.
constexpr std::size_t kListSerialBuffer = 50;
constexpr std::size_t kFindSerialBuffer = 100;
constexpr std::size_t kSignatureBuffer = 1000;
constexpr std::size_t kCertificateBuffer = 4096;  // PEM text, file contents, DER octets
constexpr std::size_t kPathBuffer = 260;          // a path of up to 259 octets and its terminator

// destination[i] = source[n-1-i] for i < n; returns n, or 0 (nothing copied)
// when n is 0 or negative.
std::int32_t ReverseCopy(unsigned char *destination, const unsigned char *source, std::int32_t n);

// The first certificate of the store, in its enumeration order, whose serial
// (big-endian, as Java has it) equals the first serialLength octets of
// serial; null when none does. Lengths must agree exactly.
std::unique_ptr<StoreCertificate> FindCertificateBySerial(PersonalStore &store, const unsigned char *serial,
                                                          std::int32_t serialLength);

// The selection dialog is shown to one thread at a time in the process; a
// second caller waits until the first one's is closed.
//
// certSource kSelectInDialog or kMatchSerial (the caller refuses others).
// kOk with the certificate in chosen, or kStoreNotOpened,
// kNoCertificateChosen, kBadArgument (serial null with kMatchSerial) or
// kNoSuchObject. The store is closed before it returns.
int ChooseStoreCertificate(StoreBackend &backend, int certSource, const unsigned char *serial,
                           std::int32_t serialLength, std::unique_ptr<StoreCertificate> &chosen);

// Lets the user choose a certificate in the dialog; true with its serial in
// Java order, false when the store cannot be opened or none was chosen.
bool ListCertByCSP(StoreBackend &backend, std::vector<unsigned char> &serial);

// Where SignByCSP writes: the elements of the Java signature array and its
// length, and element 0 of signatureLength. Null pointers stand for null
// (or, for signatureLength, empty) Java arrays.
struct SignatureOutput {
    unsigned char *signature;
    std::size_t capacity;
    std::int32_t *signatureLength;
};

// Signs the first dataLength octets of data with the private key of the
// certificate that certSource chooses; on success the signature (least
// significant octet first) and its length are written, on failure nothing.
int SignByCSP(StoreBackend &backend, int certSource, const unsigned char *serial, std::int32_t serialLength,
              const unsigned char *data, std::int32_t dataLength, const SignatureOutput &output);

// Verifies a signature (least significant octet first) over the first
// dataLength octets of data with the public key of the certificate that
// certSource names: chosen in the store, or given as PEM text, DER octets or
// a file path in certificate.
int VerifyByCSP(StoreBackend &backend, int certSource, const unsigned char *certificate,
                std::int32_t certificateLength, const unsigned char *data, std::int32_t dataLength,
                const unsigned char *signature, std::int32_t signatureLength);

}  // namespace kavro

#endif  // KAVRO_SYSSTORE_STORE_OPERATIONS_H
