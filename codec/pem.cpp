// PEM certificate unwrapping over Base64Decode.
#include "codec/pem.h"

#include "codec/base64.h"

#include <cstring>
#include <memory>
#include <new>

namespace kavro {
namespace {

constexpr char kBeginMarker[] = "-----BEGIN CERTIFICATE-----";
constexpr char kEndMarker[] = "-----END CERTIFICATE-----";
constexpr std::size_t kBeginLength = sizeof kBeginMarker - 1;
constexpr std::size_t kEndLength = sizeof kEndMarker - 1;

bool IsBodyCharacter(unsigned char octet) {
    return (octet >= 'A' && octet <= 'Z') || (octet >= 'a' && octet <= 'z') || (octet >= '0' && octet <= '9') ||
           octet == '+' || octet == '/' || octet == '=';
}

}  // namespace

int UnwrapPem(const unsigned char *text, std::size_t length, unsigned char *output, std::size_t capacity,
              std::size_t *outLength) {
    if (length == 0) {
        *outLength = 0;
        return kPemUnwrapped;
    }
    if (length < kBeginLength || std::memcmp(text, kBeginMarker, kBeginLength) != 0) {
        return kPemNoMarkers;
    }
    // The END marker must be the very end: nothing, not even a line end, follows it.
    if (length < kEndLength || std::memcmp(text + length - kEndLength, kEndMarker, kEndLength) != 0) {
        return kPemNoMarkers;
    }
    // The collected body is never longer than the text.
    std::unique_ptr<unsigned char[]> body(new (std::nothrow) unsigned char[length]);
    if (!body) {
        return kPemFailed;
    }
    std::size_t collected = 0;
    for (std::size_t position = kBeginLength; position < length && text[position] != '-'; ++position) {
        if (IsBodyCharacter(text[position])) {
            body[collected++] = text[position];
        }
    }
    std::size_t decoded = 0;
    if (Base64Decode(body.get(), collected, output, capacity, &decoded) != 0) {
        return kPemFailed;
    }
    *outLength = decoded;
    return kPemUnwrapped;
}

}  // namespace kavro
