// PlatformStore on Linux: the NSS backend is the module libkavro-nss.so
// beside this library, loaded at first use and kept until the process ends.
// It is loaded with RTLD_DEEPBIND so that the NSS libraries it brings bind to
// its SIGPIPE guard (nss/sigpipe_guard.c) rather than to the C library.
#include "kavro/sigpipe_action.h"
#include "sysstore/nss/nss_module.h"
#include "sysstore/store_seam.h"

#include <dlfcn.h>

#include <string>

namespace kavro {
namespace {

// Stands in when the module cannot be loaded: no store, no decoder, no provider.
class MissingBackend final : public StoreBackend {
public:
    std::unique_ptr<PersonalStore> OpenPersonalStore() override { return nullptr; }
    std::unique_ptr<SigningKey> AcquirePrivateKey(const StoreCertificate &) override { return nullptr; }
    Decoded DecodeCertificate(const unsigned char *, std::size_t, std::unique_ptr<StoreCertificate> &) override {
        return Decoded::kNoProvider;
    }
    std::unique_ptr<VerifyingProvider> AcquireVerifyingProvider() override { return nullptr; }
};

std::string ModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&PlatformStore), &info) == 0 || info.dli_fname == nullptr) {
        return kNssModuleFile;
    }
    std::string self = info.dli_fname;
    std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string(kNssModuleFile) : self.substr(0, slash + 1) + kNssModuleFile;
}

StoreBackend *LoadBackend() {
    // Never closed: the backend's objects may be in use on any thread.
    void *module = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL | kSigpipeGuardBinding);
    if (module == nullptr) {
        return nullptr;
    }
    NssModuleEntry entry = reinterpret_cast<NssModuleEntry>(dlsym(module, kNssModuleEntry));
    return entry != nullptr ? entry() : nullptr;
}

}  // namespace

StoreBackend &PlatformStore() {
    static StoreBackend *const loaded = LoadBackend();
    static MissingBackend missing;
    return loaded != nullptr ? *loaded : missing;
}

}  // namespace kavro
