// UnwrapPem: the DER octets of a certificate in PEM text form, a Base64 body
// between "-----BEGIN CERTIFICATE-----" and "-----END CERTIFICATE-----".
#ifndef KAVRO_CODEC_PEM_H
#define KAVRO_CODEC_PEM_H

#include <cstddef>

namespace kavro {

// Results of UnwrapPem; they never reach Java (the caller maps every
// failure to kBadPem).
enum PemResult : int {
    kPemUnwrapped = 0,
    kPemFailed = -1,       // no memory for the working copy, or the body does not fit the output
    kPemNoMarkers = 1004,  // the text does not begin with the BEGIN marker or end with the END marker
};

// Unwraps the first length octets of text (no terminator needed) into
// output, which has room for capacity octets. The text must begin with the
// BEGIN marker and end with the END marker as its very last octets; the body
// runs from the BEGIN marker to the first '-' after it, and of it only
// Base64 characters and '=' are decoded (everything else, line ends
// included, is dropped). *outLength is set only on success; an empty text
// gives 0 octets.
int UnwrapPem(const unsigned char *text, std::size_t length, unsigned char *output, std::size_t capacity,
              std::size_t *outLength);

}  // namespace kavro

#endif  // KAVRO_CODEC_PEM_H
