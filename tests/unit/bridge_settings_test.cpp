// The bridge's settings: which file and line each one comes from, and the
// configurations it must refuse rather than guess at.
#include "bridge/bridge_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace kavro::bridge {
namespace {

bool Exact(const std::string &a, const std::string &b) { return a == b; }

class BridgeSettingsTest : public ::testing::Test {
protected:
    std::string File(const std::string &name, const std::string &text) {
        std::string path = ::testing::TempDir() + "bridge-settings-" + name;
        std::ofstream(path) << text;
        written_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const std::string &path : written_) std::remove(path.c_str());
    }
    SettingsSources Sources(std::vector<std::string> files) {
        SettingsSources sources;
        sources.bridgeName = "zelcsp11.dll";
        sources.files = std::move(files);
        sources.sameName = Exact;
        return sources;
    }

private:
    std::vector<std::string> written_;
};

TEST_F(BridgeSettingsTest, EachSettingComesFromTheFirstPlaceThatHasIt) {
    std::string user = File("user", "# mine\n\n  so-pin-tries = 5\r\norbeka-ca_csp11.dll = /other.so\n");
    std::string system = File("system", "zelcsp11.dll = \" /opt/my module.so \"\nso-pin-tries=9\n");
    SettingsSources sources = Sources({user + ".absent", user, system});
    BridgeSettings settings = ReadSettings(sources);
    EXPECT_EQ("", settings.error);
    EXPECT_EQ(" /opt/my module.so ", settings.modulePath);
    EXPECT_EQ(system + " line 1", settings.moduleSource);
    EXPECT_EQ(5, settings.soPinTries);

    sources.moduleVariable = "/from/environment.so";
    sources.soPinTriesVariable = "12";
    settings = ReadSettings(sources);
    EXPECT_EQ("/from/environment.so", settings.modulePath);
    EXPECT_EQ("KAVRO_BRIDGE_MODULE", settings.moduleSource);
    EXPECT_EQ(12, settings.soPinTries);

    EXPECT_EQ(kDefaultSoPinTries, ReadSettings(Sources({system + ".absent"})).soPinTries);
}

TEST_F(BridgeSettingsTest, WhatCannotBeTakenStopsTheBridgeWithTheReason) {
    std::string none = File("none", "orbeka-ca_csp11.dll = /other.so\n");
    EXPECT_EQ("no module configured: set KAVRO_BRIDGE_MODULE, or add \"zelcsp11.dll = <module path>\" to " + none +
                  ".absent or " + none,
              ReadSettings(Sources({none + ".absent", none})).error);
    // A file that is wrong anywhere is not half-read, even when an earlier one has the entry.
    std::string good = File("good", "zelcsp11.dll = /m.so\n");
    std::string shape = File("shape", "zelcsp11.dll /m.so\n");
    EXPECT_EQ(shape + " line 1: expected NAME = VALUE", ReadSettings(Sources({good, shape})).error);
    for (const char *tries : {"0", "256", "3x", "-1", "", "0x10"}) {
        std::string file = File("tries", std::string("zelcsp11.dll = /m.so\nso-pin-tries = ") + tries + "\n");
        EXPECT_EQ(file + " line 2: so-pin-tries must be a whole number from 1 to 255", ReadSettings(Sources({file})).error)
            << tries;
    }
    std::string empty = File("empty", "zelcsp11.dll =\n");
    EXPECT_EQ(empty + " line 1: no module path for zelcsp11.dll", ReadSettings(Sources({empty})).error);
    SettingsSources badVariable = Sources({good});
    badVariable.soPinTriesVariable = "many";
    EXPECT_EQ("KAVRO_BRIDGE_SO_PIN_TRIES must be a whole number from 1 to 255", ReadSettings(badVariable).error);
}

// One file's text and what this bridge takes from it: the module and its
// init-args, or the error after the file's path.
using namespace std::string_literals;

struct FileCase {
    const char *name;
    std::string text;
    std::string module;
    std::string initArgs;
    std::string error;
};

const std::string kFilled = "zelcsp11.dll = /" + std::string(kMaxLineBytes - 16, 'a');

const FileCase kFileCases[] = {
    {"bom", "\xEF\xBB\xBFzelcsp11.dll = /m.so\n", "/m.so", "", ""},
    {"nul", "zelcsp11.dll = /m.so\0/cut\n"s, "", "", " line 1: a NUL byte; the file must be UTF-8 text (not UTF-16)"},
    {"nul in a comment", "zelcsp11.dll = /m.so\n\n#\0\n"s, "", "", " line 3: a NUL byte; the file must be UTF-8 text (not UTF-16)"},
    {"utf-16", "\xFF\xFEz\0"s, "", "", " line 1: a NUL byte; the file must be UTF-8 text (not UTF-16)"},
    {"longest line", kFilled + "\r\n", kFilled.substr(15), "", ""},
    {"line too long", kFilled + "a\r\n", "", "", " line 1: longer than 4096 bytes"},
    {"comment too long", "#" + std::string(1 << 20, 'x') + "\nzelcsp11.dll = /m.so\n", "", "", " line 1: longer than 4096 bytes"},
    {"hash in a value", "zelcsp11.dll = /m.so # mine\n", "/m.so # mine", "", ""},
    {"indented comment", "  # zelcsp11.dll = /x.so\nzelcsp11.dll = /m.so", "/m.so", "", ""},
    {"init-args", "zelcsp11.dll.init-args = configdir='sql:/db' flags=\nzelcsp11.dll = /s.so\n", "/s.so",
     "configdir='sql:/db' flags=", ""},
    {"quoted init-args", "zelcsp11.dll = /s.so\nzelcsp11.dll.init-args = \" a # b \"\n", "/s.so", " a # b ", ""},
    {"another bridge's init-args", "other.dll.init-args = x\nzelcsp11.dll = /s.so\n", "/s.so", "", ""},
    {"init-args alone", "zelcsp11.dll.init-args = x\n", "", "",
     " line 1: zelcsp11.dll.init-args without a zelcsp11.dll line in the same file"},
    {"empty init-args", "zelcsp11.dll = /s.so\nzelcsp11.dll.init-args =\n", "", "",
     " line 2: no text for zelcsp11.dll.init-args"},
};

TEST_F(BridgeSettingsTest, WhatAFileHoldsAsEditorsWriteIt) {
    for (const FileCase &c : kFileCases) {
        std::string file = File("case", c.text);
        BridgeSettings settings = ReadSettings(Sources({file}));
        EXPECT_EQ(c.error.empty() ? "" : file + c.error, settings.error) << c.name;
        EXPECT_EQ(c.module, settings.modulePath) << c.name;
        EXPECT_EQ(c.initArgs, settings.initArgs) << c.name;
    }
}

TEST_F(BridgeSettingsTest, InitArgsComeWithTheModule) {
    std::string user = File("user", "zelcsp11.dll = /a.so\n");
    std::string system = File("system", "zelcsp11.dll = /b.so\nzelcsp11.dll.init-args = b\n");
    SettingsSources sources = Sources({user, system});
    BridgeSettings settings = ReadSettings(sources);
    EXPECT_EQ("/a.so", settings.modulePath);
    EXPECT_EQ("", settings.initArgs);

    sources.moduleVariable = "/env.so";
    sources.initArgsVariable = "flags=";
    settings = ReadSettings(sources);
    EXPECT_EQ("/env.so", settings.modulePath);
    EXPECT_EQ("flags=", settings.initArgs);
    sources.moduleVariable.clear();
    EXPECT_EQ("KAVRO_BRIDGE_INIT_ARGS is set without KAVRO_BRIDGE_MODULE", ReadSettings(sources).error);
}

}  // namespace
}  // namespace kavro::bridge
