// PIN transport decryption. The AES context, the decrypted working copy and
// everything derived from the key are wiped before they go.
#include "codec/pin_transport.h"

#include "codec/aes.h"
#include "codec/secret.h"
#include "kavro/result_code.h"

#include <cstring>
#include <memory>
#include <new>

namespace kavro {
namespace {

// Heap bytes that are wiped before they are freed.
class WipedHeapBytes {
public:
    explicit WipedHeapBytes(std::size_t size)
        : bytes_(size == 0 ? nullptr : new (std::nothrow) unsigned char[size]), size_(size) {}
    WipedHeapBytes(const WipedHeapBytes &) = delete;
    WipedHeapBytes &operator=(const WipedHeapBytes &) = delete;
    ~WipedHeapBytes() noexcept {
        if (bytes_ != nullptr) {
            Wipe(bytes_.get(), size_);
        }
    }

    // False when the allocation failed.
    bool Allocated() const { return size_ == 0 || bytes_ != nullptr; }
    unsigned char *Data() { return bytes_.get(); }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_;
};

}  // namespace

int DecryptPin(const unsigned char *key, const unsigned char *ciphertext, std::size_t length, unsigned char *output,
               std::size_t capacity, std::size_t *outLength) {
    AesContext context;
    std::memset(&context, 0, sizeof context);
    WipedOnExit<AesContext> contextWipe(context);
    if (length % kAesBlockSize != 0) {
        return kBadArgument;
    }
    if (AesSetKey(context, key, 8 * static_cast<int>(kTransportKeySize)) != 0) {
        return kTransportKeyRefused;
    }
    WipedHeapBytes plain(length);
    if (!plain.Allocated()) {
        return kNoMemory;
    }
    if (length != 0) {
        std::memcpy(plain.Data(), ciphertext, length);
    }
    for (std::size_t block = 0; block < length; block += kAesBlockSize) {
        AesDecryptBlock(context, plain.Data() + block, plain.Data() + block);
    }
    const void *zero = length == 0 ? nullptr : std::memchr(plain.Data(), 0, length);
    const std::size_t pinLength =
        zero == nullptr ? length : static_cast<std::size_t>(static_cast<const unsigned char *>(zero) - plain.Data());
    if (output != nullptr) {
        if (pinLength > capacity) {
            return kBadArgument;
        }
        if (pinLength != 0) {
            std::memcpy(output, plain.Data(), pinLength);
        }
    }
    *outLength = pinLength;
    return kOk;
}

}  // namespace kavro
