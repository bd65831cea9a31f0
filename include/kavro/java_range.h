// How values cross between the library and Java's 32-bit signed ints, in
// one place: slot ids and handles are unsigned 32-bit values carried in an
// int bit for bit; lengths must lie within what a Java array can hold.
#ifndef KAVRO_JAVA_RANGE_H
#define KAVRO_JAVA_RANGE_H

#include "kavro/cryptoki.h"

#include <cstdint>
#include <type_traits>

namespace kavro {

// The largest length a Java array can have.
constexpr std::uint32_t kLargestJavaLength = 0x7FFFFFFFu;

// A slot id or handle that Java can carry. (Two shifts, as a 32-bit
// CK_ULONG cannot be shifted by 32 at once.)
inline bool FitsJavaId(CK_ULONG value) { return ((value >> 16) >> 16) == 0; }

inline std::int32_t ToJavaId(CK_ULONG value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }
inline CK_ULONG FromJavaId(std::int32_t value) { return static_cast<CK_ULONG>(static_cast<std::uint32_t>(value)); }

// What ConnectToken answers for a session: the handle itself when it fits,
// else its low 32 bits, or 1 when those are 0. No Java method takes the
// handle back, and 0 must keep meaning that no session was opened.
inline std::int32_t ToJavaSession(CK_SESSION_HANDLE session) {
    if (session == 0) {
        return 0;
    }
    const std::int32_t standIn = ToJavaId(session);
    return standIn != 0 ? standIn : 1;
}

// A length that a Java array could have.
template <typename Length>
bool FitsJavaLength(Length length) {
    static_assert(std::is_unsigned<Length>::value, "lengths from modules and platforms are unsigned");
    return length <= kLargestJavaLength;
}

// A length a module reports, for Java: one beyond a Java int's range, which
// no Java array could offer, reads as the largest int.
inline std::int32_t ToJavaLength(CK_ULONG length) {
    return FitsJavaLength(length) ? static_cast<std::int32_t>(length) : static_cast<std::int32_t>(kLargestJavaLength);
}

}  // namespace kavro

#endif  // KAVRO_JAVA_RANGE_H
