// Fuzz target for the bridge's configuration reader; the input is a
// bridge.conf. Whatever the file holds, the reader ends with a module or
// with an error that names the file's line, takes no value a line could
// not hold, and reads the same when a UTF-8 byte order mark opens the file.
#include "bridge/bridge_settings.h"
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kMark[] = "\xEF\xBB\xBF";

std::string Written(const char *name, const std::string &prefix, const std::uint8_t *data, std::size_t size) {
    std::string path = "/tmp/kavro-fuzz-" + std::to_string(getpid()) + "-" + name;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    fuzz::Require(file != nullptr);
    std::fwrite(prefix.data(), 1, prefix.size(), file);
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    return path;
}

bool Exact(const std::string &a, const std::string &b) { return a == b; }

kavro::bridge::BridgeSettings Read(const std::string &file) {
    kavro::bridge::SettingsSources sources;
    sources.bridgeName = "zelcsp11.dll";
    sources.files = {file};
    sources.sameName = Exact;
    return kavro::bridge::ReadSettings(sources);
}

bool LineText(const std::string &value) {
    return value.size() <= kavro::bridge::kMaxLineBytes && value.find('\0') == std::string::npos &&
           value.find('\n') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string plain = Written("plain", "", data, size);
    const kavro::bridge::BridgeSettings settings = Read(plain);
    std::remove(plain.c_str());
    fuzz::Require(settings.error.empty() != settings.modulePath.empty());
    if (settings.error.empty()) {
        fuzz::Require(LineText(settings.modulePath) && LineText(settings.initArgs));
        fuzz::Require(settings.soPinTries >= 1 && settings.soPinTries <= 255);
    } else {
        fuzz::Require(settings.error.rfind(plain + " line ", 0) == 0 ||
                      settings.error.rfind("no module configured: ", 0) == 0);
    }

    if (size < 3 || std::memcmp(data, kMark, 3) != 0) {
        const std::string marked = Written("marked", kMark, data, size);
        const kavro::bridge::BridgeSettings same = Read(marked);
        std::remove(marked.c_str());
        std::string error = same.error;
        for (std::size_t at = 0; (at = error.find(marked, at)) != std::string::npos; at += plain.size()) {
            error.replace(at, marked.size(), plain);
        }
        fuzz::Require(error == settings.error && same.modulePath == settings.modulePath &&
                      same.initArgs == settings.initArgs && same.soPinTries == settings.soPinTries);
    }
    return 0;
}
