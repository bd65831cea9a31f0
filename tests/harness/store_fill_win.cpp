// Fills the current user's personal store "MY" for the harness's store
// cases, as a Windows program run in the test's Wine prefix:
//
//   kavro_store_fill DIR NAME...
//
// removes the user's default key container of the RSA provider, as on a
// profile that has never verified a signature; empties MY, then adds
// DIR/NAME.der for each NAME and, when DIR/NAME.pvk exists (an RSA key that
// openssl wrote with -outform PVK -pvk-none), imports that key into a key
// container of its own and ties the certificate to it.
// PFX import is not used: Wine 8 gives every PFX key one shared container
// and a key type that CryptSignHash refuses. The key type stored is
// AT_KEYEXCHANGE, as the imported PRIVATEKEYBLOB has CALG_RSA_KEYX.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPvkHeader = 24;  // magic, reserved, key type, encrypted, salt length, key length

bool ReadWhole(const std::string &path, std::vector<BYTE> &bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string Error() {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(GetLastError()));
    return text;
}

bool Fail(const std::string &what) {
    std::printf("%s failed: %s\n", what.c_str(), Error().c_str());
    return false;
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

// Deletes every certificate of the store and commits the deletions (Wine
// keeps them only after CERT_STORE_CTRL_COMMIT).
bool EmptyStore(HCERTSTORE store, int &removed) {
    removed = 0;
    for (;;) {
        PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
        if (first == nullptr) break;
        // Frees the context in every case.
        if (!CertDeleteCertificateFromStore(first)) return Fail("CertDeleteCertificateFromStore");
        ++removed;
    }
    return CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr) || Fail("CertControlStore(COMMIT)");
}

// A fresh key container named container holding the key of the PVK file.
bool ImportKey(const std::string &container, const std::vector<BYTE> &pvk) {
    HCRYPTPROV provider = 0;
    // A container left from an earlier fill is removed first.
    CryptAcquireContextA(&provider, container.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    if (!CryptAcquireContextA(&provider, container.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
        return Fail("CryptAcquireContextA(" + container + ", CRYPT_NEWKEYSET)");
    }
    HCRYPTKEY key = 0;
    bool imported = pvk.size() > kPvkHeader &&
                    CryptImportKey(provider, pvk.data() + kPvkHeader, static_cast<DWORD>(pvk.size() - kPvkHeader), 0,
                                   0, &key);
    if (!imported) Fail("CryptImportKey(" + container + ")");
    if (key != 0) CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    return imported;
}

bool AddCertificate(HCERTSTORE store, const std::string &directory, const std::string &name, bool &keyed) {
    std::vector<BYTE> der;
    if (!ReadWhole(directory + "/" + name + ".der", der)) {
        std::printf("cannot read %s/%s.der\n", directory.c_str(), name.c_str());
        return false;
    }
    std::vector<BYTE> pvk;
    keyed = ReadWhole(directory + "/" + name + ".pvk", pvk);
    std::string container = "kavro-harness-" + name;
    if (keyed && !ImportKey(container, pvk)) return false;

    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_NEW, &added)) {
        return Fail("CertAddEncodedCertificateToStore(" + name + ")");
    }
    bool ok = true;
    if (keyed) {
        // Set on the context the add returned: Wine keeps it only there.
        std::wstring wideContainer = Wide(container);
        std::wstring wideProvider = MS_ENHANCED_PROV_W;
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = &wideContainer[0];
        info.pwszProvName = &wideProvider[0];
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = AT_KEYEXCHANGE;
        ok = CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) ||
             Fail("CertSetCertificateContextProperty(" + name + ")");
    }
    CertFreeCertificateContext(added);
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kavro_store_fill DIR NAME...\n");
        return 2;
    }
    std::string directory = argv[1];
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (store == nullptr) {
        Fail("CertOpenStore(MY)");
        return 1;
    }
    HCRYPTPROV provider = 0;
    std::printf("default key container %s\n",
                CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET) ? "removed"
                                                                                                    : "not there");
    int removed = 0;
    bool ok = EmptyStore(store, removed);
    int keyed = 0;
    for (int i = 2; ok && i < argc; ++i) {
        bool hasKey = false;
        ok = AddCertificate(store, directory, argv[i], hasKey);
        if (ok) {
            std::printf("added %s%s\n", argv[i], hasKey ? " with its key" : " without a key");
            keyed += hasKey ? 1 : 0;
        }
    }
    ok = ok && (CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr) || Fail("CertControlStore(COMMIT)"));
    CertCloseStore(store, 0);
    if (!ok) return 1;
    std::printf("MY: %d certificate(s) removed, %d added, %d with a key\n", removed, argc - 2, keyed);
    return 0;
}
