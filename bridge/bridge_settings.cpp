// Reading the bridge's settings from the environment and its configuration files.
#include "bridge/bridge_settings.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace kavro::bridge {
namespace {

// Other bridge names noted for the debug output at the most: a host has a
// handful of module file names, not thousands.
constexpr std::size_t kMaxNotedNames = 64;
const char kByteOrderMark[] = "\xEF\xBB\xBF";

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

enum class Line { kRead, kEnd, kNul, kTooLong };

// One line without its end ("\n" or "\r\n"). Reading stops at a NUL byte,
// and once the line is longer than kMaxLineBytes, so that a file without
// line ends is never read whole.
Line ReadLine(std::FILE *in, std::string &line) {
    line.clear();
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        if (c == '\0') {
            return Line::kNul;
        }
        // One byte more than the limit: the '\r' of a "\r\n" end.
        if (line.size() > kMaxLineBytes) {
            return Line::kTooLong;
        }
        line.push_back(static_cast<char>(c));
    }
    if (c == EOF && line.empty()) {
        return Line::kEnd;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line.size() > kMaxLineBytes ? Line::kTooLong : Line::kRead;
}

// A UTF-8 byte order mark that opens the file is no part of its first line.
void SkipByteOrderMark(std::FILE *in) {
    char head[sizeof kByteOrderMark - 1];
    if (std::fread(head, 1, sizeof head, in) != sizeof head || std::memcmp(head, kByteOrderMark, sizeof head) != 0) {
        std::rewind(in);
    }
}

struct Found {
    std::string value;
    std::string where;
};

// A module entry of another bridge name, for the debug notes.
struct OtherName {
    std::string name;
    Found module;
};

// What the files hold beyond this bridge's own settings.
struct Seen {
    std::vector<OtherName> others;
    bool morePassedOver = false;
};

void NoteOtherName(const SettingsSources &sources, const std::string &name, const Found &module, Seen &seen) {
    for (const OtherName &other : seen.others) {
        if (sources.sameName(other.name, name)) {
            return;
        }
    }
    if (seen.others.size() == kMaxNotedNames) {
        seen.morePassedOver = true;
        return;
    }
    seen.others.push_back(OtherName{name, module});
}

// The NAME of a "NAME.init-args" key; empty for other keys.
std::string InitArgsName(const SettingsSources &sources, const std::string &key) {
    const std::size_t suffix = std::strlen(kInitArgsSuffix);
    if (key.size() <= suffix || !sources.sameName(key.substr(key.size() - suffix), kInitArgsSuffix)) {
        return {};
    }
    return key.substr(0, key.size() - suffix);
}

// This bridge's entries in one file.
struct FileEntries {
    Found module;
    Found initArgs;
};

// Takes one "KEY = VALUE" line. False with settings.error set for a bad value.
bool TakeSetting(const SettingsSources &sources, const std::string &key, const Found &setting, FileEntries &own,
                 Found &tries, Seen &seen, BridgeSettings &settings) {
    const std::string initArgsName = InitArgsName(sources, key);
    if (sources.sameName(key, kSoPinTriesKey)) {
        if (SoPinTries(setting.value) == 0) {
            settings.error = setting.where + ": so-pin-tries must be a whole number from 1 to 255";
            return false;
        }
        if (tries.where.empty()) {
            tries = setting;
        }
    } else if (!initArgsName.empty()) {
        if (!sources.sameName(initArgsName, sources.bridgeName)) {
            return true;
        }
        if (setting.value.empty()) {
            settings.error = setting.where + ": no text for " + key;
            return false;
        }
        if (own.initArgs.where.empty()) {
            own.initArgs = setting;
        }
    } else if (sources.sameName(key, sources.bridgeName)) {
        if (setting.value.empty()) {
            settings.error = setting.where + ": no module path for " + key;
            return false;
        }
        if (own.module.where.empty()) {
            own.module = setting;
        }
    } else if (sources.findBridgeFile && !setting.value.empty()) {
        NoteOtherName(sources, key, setting, seen);
    }
    return true;
}

// Reads one configuration file into the settings not found yet: the module
// and its init-args together, from the first file that names the module.
// False with settings.error set when the file holds a line it cannot take.
bool ReadFile(const SettingsSources &sources, const std::string &file, FileEntries &chosen, Found &tries, Seen &seen,
              BridgeSettings &settings) {
    // C streams rather than iostreams: the Windows DLL links its C++
    // runtime in, and iostreams would make it several times larger.
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!in) {
        settings.trace.push_back(file + ": not found or not readable");
        return true;
    }
    SkipByteOrderMark(in.get());
    FileEntries own;
    std::string line;
    int number = 0;
    for (Line read; (read = ReadLine(in.get(), line)) != Line::kEnd;) {
        ++number;
        std::string where = file + " line " + std::to_string(number);
        if (read == Line::kNul) {
            settings.error = where + ": a NUL byte; the file must be UTF-8 text (not UTF-16)";
            return false;
        }
        if (read == Line::kTooLong) {
            settings.error = where + ": longer than " + std::to_string(kMaxLineBytes) + " bytes";
            return false;
        }
        std::string text = Trimmed(line);
        if (text.empty() || text[0] == '#') {
            continue;
        }
        std::size_t equals = text.find('=');
        if (equals == std::string::npos || Trimmed(text.substr(0, equals)).empty()) {
            settings.error = where + ": expected NAME = VALUE";
            return false;
        }
        Found setting{Unquoted(Trimmed(text.substr(equals + 1))), where};
        if (!TakeSetting(sources, Trimmed(text.substr(0, equals)), setting, own, tries, seen, settings)) {
            return false;
        }
    }
    if (!own.initArgs.where.empty() && own.module.where.empty()) {
        settings.error = own.initArgs.where + ": " + sources.bridgeName + kInitArgsSuffix + " without a " +
                         sources.bridgeName + " line in the same file";
        return false;
    }
    settings.trace.push_back(file + (own.module.where.empty() ? ": no entry for " : ": has an entry for ") +
                             sources.bridgeName);
    if (chosen.module.where.empty()) {
        chosen = own;
    } else if (!own.initArgs.where.empty()) {
        settings.trace.push_back(own.initArgs.where + ": not used; the module comes from " + chosen.module.where);
    }
    return true;
}

std::string FileList(const std::vector<std::string> &files) {
    std::string list;
    for (std::size_t i = 0; i < files.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == files.size() ? " or " : ", ") + files[i];
    }
    return list;
}

// The debug notes on other names: a name whose file is nowhere to be seen
// (a typing error, or a bridge file not put in place), and a name whose
// file is this same library while the files send it to another module: the
// loader hands both names one library, which forwards to one module.
void NoteOtherNames(const SettingsSources &sources, const Seen &seen, bool moduleFromFile, BridgeSettings &settings) {
    for (const OtherName &other : seen.others) {
        std::string file = sources.findBridgeFile(other.name);
        if (file.empty()) {
            settings.trace.push_back(other.module.where + ": no file " + other.name + " " + sources.bridgeFolders);
        } else if (moduleFromFile && other.module.value != settings.modulePath && sources.isThisLibrary(file)) {
            settings.trace.push_back(other.module.where + ": " + file + " is this same library, so " + other.name +
                                     " reaches " + settings.modulePath + ", not " + other.module.value +
                                     "; make it a copy of the bridge, not a link");
        }
    }
    if (seen.morePassedOver) {
        settings.trace.push_back("names after the first " + std::to_string(kMaxNotedNames) + " not looked for");
    }
}

}  // namespace

BridgeSettings ReadSettings(const SettingsSources &sources) {
    BridgeSettings settings;
    FileEntries chosen;
    Found tries;
    Seen seen;
    if (!sources.moduleVariable.empty()) {
        chosen.module = Found{sources.moduleVariable, kModuleVariable};
        if (!sources.initArgsVariable.empty()) {
            chosen.initArgs = Found{sources.initArgsVariable, kInitArgsVariable};
        }
    } else if (!sources.initArgsVariable.empty()) {
        settings.error = std::string(kInitArgsVariable) + " is set without " + kModuleVariable;
        return settings;
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
        if (!ReadFile(sources, file, chosen, tries, seen, settings)) {
            return settings;
        }
    }
    if (!tries.where.empty()) {
        settings.soPinTries = SoPinTries(tries.value);
        settings.trace.push_back("so-pin-tries " + tries.value + " from " + tries.where);
    }
    if (chosen.module.where.empty()) {
        if (sources.bridgeName.empty()) {
            settings.error = "cannot tell this bridge's own file name; set " + std::string(kModuleVariable);
        } else {
            settings.error = "no module configured: set " + std::string(kModuleVariable) + ", or add \"" +
                             sources.bridgeName + " = <module path>\" to " + FileList(sources.files);
        }
        return settings;
    }
    settings.modulePath = chosen.module.value;
    settings.moduleSource = chosen.module.where;
    settings.initArgs = chosen.initArgs.value;
    if (!chosen.initArgs.where.empty()) {
        settings.trace.push_back("init-args from " + chosen.initArgs.where);
    }
    if (sources.findBridgeFile) {
        NoteOtherNames(sources, seen, chosen.module.where != kModuleVariable, settings);
    }
    return settings;
}

}  // namespace kavro::bridge
