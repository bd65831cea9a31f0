// The result codes returned to Java. PKCS #11 CK_RV values are passed
// through beside these, unchanged; an SO login with a wrong PIN returns the
// attempts left (1 to 255) instead of a code from this table.
#ifndef KAVRO_RESULT_CODE_H
#define KAVRO_RESULT_CODE_H

namespace kavro {

enum ResultCode : int {
    kOk = 0,
    kBadBase64 = -1,              // a PIN transport text ends inside a Base64 group
    kNoModule = 1001,             // no usable token module for the module kind
    kUnknownSlot = 1002,          // slot id not registered by a discovery
    kBadArgument = 1003,          // missing array, length out of range, selector out of range
    kNoTokenSerial = 1004,        // token serial unreadable or not 16 characters
    kNoMemory = 1005,             // no memory for a working buffer
    kNoCertificateWithSerial = 1006,
    kNoKeyWithCertificateId = 1007,
    kBadSignMechanism = 1008,
    kNoSuchObject = 1011,         // ordinal beyond the keys; no store certificate with the serial
    kNoTokenPresent = 1012,
    kTransportKeyRefused = 1201,
    kBadPem = 1202,
    kStoreNotOpened = 1301,
    kNoCertificateChosen = 1302,  // dialog cancelled, or the bytes are not a certificate
    kNoPrivateKey = 1303,
    kHashFailed = 1304,
    kCertificateFileUnreadable = 1305,
    kNoProvider = 1306,
    kPublicKeyNotImported = 1307,
    kSignatureInvalid = 1308,
    kSigningFailed = 1309,
    kLoginRefused = 4001,
};

}  // namespace kavro

#endif  // KAVRO_RESULT_CODE_H
