// The bridge's settings: which real module a bridge file forwards to, and
// the security officer's attempts its own count starts from. They come from
// the environment, else from the first configuration file that sets them.
#ifndef KAVRO_BRIDGE_BRIDGE_SETTINGS_H
#define KAVRO_BRIDGE_BRIDGE_SETTINGS_H

#include <string>
#include <vector>

namespace kavro::bridge {

constexpr int kDefaultSoPinTries = 3;
constexpr const char *kModuleVariable = "KAVRO_BRIDGE_MODULE";
constexpr const char *kSoPinTriesVariable = "KAVRO_BRIDGE_SO_PIN_TRIES";
constexpr const char *kDebugVariable = "KAVRO_BRIDGE_DEBUG";
constexpr const char *kSoPinTriesKey = "so-pin-tries";

// What the settings are read from.
struct SettingsSources {
    std::string bridgeName;               // this bridge's file name, e.g. "zelcsp11.dll"
    std::string moduleVariable;           // KAVRO_BRIDGE_MODULE's value, or empty
    std::string soPinTriesVariable;       // KAVRO_BRIDGE_SO_PIN_TRIES's value, or empty
    std::vector<std::string> files;       // configuration files, first one first
    bool (*sameName)(const std::string &, const std::string &) = nullptr;
};

struct BridgeSettings {
    std::string modulePath;               // the real module; empty when error is set
    std::string moduleSource;             // where modulePath came from
    int soPinTries = kDefaultSoPinTries;
    std::string error;                    // why the bridge cannot start; empty when it can
    std::vector<std::string> trace;       // what was looked at, for the debug output
};

// Reads the settings. Configuration files hold "NAME = VALUE" lines, where
// NAME is a bridge file name (its value the path of the module it forwards
// to) or "so-pin-tries"; blank lines and lines starting with '#' are
// skipped. A line of any other shape, or a bad value, is an error.
BridgeSettings ReadSettings(const SettingsSources &sources);

}  // namespace kavro::bridge

#endif  // KAVRO_BRIDGE_BRIDGE_SETTINGS_H
