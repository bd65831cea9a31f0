// Secret bytes in memory: a wipe the compiler may not drop, and fixed
// buffers that wipe themselves when they leave scope.
#ifndef KAVRO_CODEC_SECRET_H
#define KAVRO_CODEC_SECRET_H

#include <cstddef>

namespace kavro {

// Overwrites a buffer in a way the compiler may not drop.
void Wipe(void *buffer, std::size_t size) noexcept;

// A zero-filled buffer of Size bytes that is wiped when it leaves scope.
template <std::size_t Size>
class SecretBytes {
public:
    SecretBytes() = default;
    SecretBytes(const SecretBytes &) = delete;
    SecretBytes &operator=(const SecretBytes &) = delete;
    ~SecretBytes() noexcept { Clear(); }

    unsigned char *Data() { return bytes_; }
    const unsigned char *Data() const { return bytes_; }
    static constexpr std::size_t Capacity() { return Size; }
    void Clear() noexcept { Wipe(bytes_, Size); }

private:
    unsigned char bytes_[Size] = {};
};

// Wipes an object that holds key material (an AES context) when it leaves scope.
template <typename Object>
class WipedOnExit {
public:
    explicit WipedOnExit(Object &object) : object_(object) {}
    WipedOnExit(const WipedOnExit &) = delete;
    WipedOnExit &operator=(const WipedOnExit &) = delete;
    ~WipedOnExit() noexcept { Wipe(&object_, sizeof object_); }

private:
    Object &object_;
};

}  // namespace kavro

#endif  // KAVRO_CODEC_SECRET_H
