// Reading the bridge's settings from the environment and its configuration files.
#include "bridge/bridge_settings.h"

#include <cstdio>
#include <memory>

namespace kavro::bridge {
namespace {

std::string Trimmed(const std::string &text) {
    const char *blanks = " \t\r";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A value may be quoted, for paths with blanks at either end.
std::string Unquoted(const std::string &value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// 1 to 255, the attempts a PIN status record can tell; 0 when text is not such a number.
int SoPinTries(const std::string &text) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    int tries = std::stoi(text);
    return tries >= 1 && tries <= 255 ? tries : 0;
}

// One line without its end; false at the end of the file.
bool ReadLine(std::FILE *in, std::string &line) {
    line.clear();
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
    }
    return c != EOF || !line.empty();
}

struct Found {
    std::string value;
    std::string where;
};

// Reads one configuration file into the settings not found yet. False with
// settings.error set when the file holds a line it cannot take.
bool ReadFile(const SettingsSources &sources, const std::string &file, Found &module, Found &tries,
              BridgeSettings &settings) {
    // C streams rather than iostreams: the Windows DLL links its C++
    // runtime in, and iostreams would make it several times larger.
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!in) {
        settings.trace.push_back(file + ": not found or not readable");
        return true;
    }
    std::string line;
    int number = 0;
    bool named = false;
    while (ReadLine(in.get(), line)) {
        ++number;
        std::string text = Trimmed(line);
        if (text.empty() || text[0] == '#') {
            continue;
        }
        std::string where = file + " line " + std::to_string(number);
        std::size_t equals = text.find('=');
        if (equals == std::string::npos || Trimmed(text.substr(0, equals)).empty()) {
            settings.error = where + ": expected NAME = VALUE";
            return false;
        }
        std::string key = Trimmed(text.substr(0, equals));
        std::string value = Unquoted(Trimmed(text.substr(equals + 1)));
        if (sources.sameName(key, kSoPinTriesKey)) {
            if (SoPinTries(value) == 0) {
                settings.error = where + ": so-pin-tries must be a whole number from 1 to 255";
                return false;
            }
            if (tries.where.empty()) {
                tries = Found{value, where};
            }
        } else if (sources.sameName(key, sources.bridgeName)) {
            named = true;
            if (value.empty()) {
                settings.error = where + ": no module path for " + key;
                return false;
            }
            if (module.where.empty()) {
                module = Found{value, where};
            }
        }
    }
    settings.trace.push_back(file + (named ? ": has an entry for " : ": no entry for ") + sources.bridgeName);
    return true;
}

std::string FileList(const std::vector<std::string> &files) {
    std::string list;
    for (std::size_t i = 0; i < files.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == files.size() ? " or " : ", ") + files[i];
    }
    return list;
}

}  // namespace

BridgeSettings ReadSettings(const SettingsSources &sources) {
    BridgeSettings settings;
    Found module;
    Found tries;
    if (!sources.moduleVariable.empty()) {
        module = Found{sources.moduleVariable, kModuleVariable};
    } else {
        settings.trace.push_back(std::string(kModuleVariable) + " is not set");
    }
    if (!sources.soPinTriesVariable.empty()) {
        if (SoPinTries(sources.soPinTriesVariable) == 0) {
            settings.error = std::string(kSoPinTriesVariable) + " must be a whole number from 1 to 255";
            return settings;
        }
        tries = Found{sources.soPinTriesVariable, kSoPinTriesVariable};
    }
    for (const std::string &file : sources.files) {
        if (!ReadFile(sources, file, module, tries, settings)) {
            return settings;
        }
    }
    if (!tries.where.empty()) {
        settings.soPinTries = SoPinTries(tries.value);
        settings.trace.push_back("so-pin-tries " + tries.value + " from " + tries.where);
    }
    if (module.where.empty()) {
        if (sources.bridgeName.empty()) {
            settings.error = "cannot tell this bridge's own file name; set " + std::string(kModuleVariable);
        } else {
            settings.error = "no module configured: set " + std::string(kModuleVariable) + ", or add \"" +
                             sources.bridgeName + " = <module path>\" to " + FileList(sources.files);
        }
        return settings;
    }
    settings.modulePath = module.value;
    settings.moduleSource = module.where;
    return settings;
}

}  // namespace kavro::bridge
