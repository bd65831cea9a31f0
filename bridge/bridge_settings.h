// The bridge's settings: which real module a bridge file forwards to, the
// text its C_Initialize gets, and the security officer's attempts its own
// count starts from. They come from the environment, else from the first
// configuration file that sets them.
#ifndef KAVRO_BRIDGE_BRIDGE_SETTINGS_H
#define KAVRO_BRIDGE_BRIDGE_SETTINGS_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kavro::bridge {

constexpr int kDefaultSoPinTries = 3;
constexpr const char *kModuleVariable = "KAVRO_BRIDGE_MODULE";
constexpr const char *kInitArgsVariable = "KAVRO_BRIDGE_INIT_ARGS";
constexpr const char *kSoPinTriesVariable = "KAVRO_BRIDGE_SO_PIN_TRIES";
constexpr const char *kDebugVariable = "KAVRO_BRIDGE_DEBUG";
constexpr const char *kSoPinTriesKey = "so-pin-tries";
constexpr const char *kInitArgsSuffix = ".init-args";
// The longest line a configuration file may hold, its end not counted.
constexpr std::size_t kMaxLineBytes = 4096;

// What the settings are read from.
struct SettingsSources {
    std::string bridgeName;               // this bridge's file name, e.g. "zelcsp11.dll"
    std::string moduleVariable;           // KAVRO_BRIDGE_MODULE's value, or empty
    std::string initArgsVariable;         // KAVRO_BRIDGE_INIT_ARGS's value, or empty
    std::string soPinTriesVariable;       // KAVRO_BRIDGE_SO_PIN_TRIES's value, or empty
    std::vector<std::string> files;       // configuration files, first one first
    bool (*sameName)(const std::string &, const std::string &) = nullptr;
    // Set for the debug output only: the file a bridge name leads to (empty
    // when none is found), and whether a file is this very library.
    std::function<std::string(const std::string &name)> findBridgeFile;
    std::function<bool(const std::string &path)> isThisLibrary;
    std::string bridgeFolders;            // where findBridgeFile looks, for the notes
};

struct BridgeSettings {
    std::string modulePath;               // the real module; empty when error is set
    std::string moduleSource;             // where modulePath came from
    std::string initArgs;                 // pReserved for the module's C_Initialize; empty for none
    int soPinTries = kDefaultSoPinTries;
    std::string error;                    // why the bridge cannot start; empty when it can
    std::vector<std::string> trace;       // what was looked at, for the debug output
};

// Reads the settings. Configuration files hold "NAME = VALUE" lines, where
// NAME is a bridge file name (its value the path of the module it forwards
// to), "NAME.init-args" (the text for that module's C_Initialize, taken
// from the file that names the module) or "so-pin-tries". Blank lines and
// lines whose first other character is '#' are skipped; a '#' anywhere
// else belongs to the value. A UTF-8 byte order mark may open a file. A
// line of any other shape, a NUL byte, a line longer than kMaxLineBytes or
// a bad value is an error. With findBridgeFile set, the trace also notes
// names whose file cannot be found and names whose file is this library
// while they are sent to another module.
BridgeSettings ReadSettings(const SettingsSources &sources);

}  // namespace kavro::bridge

#endif  // KAVRO_BRIDGE_BRIDGE_SETTINGS_H
