// The built bridge as a host other than kavro uses it: copies of the library
// started from two threads at once, C_Initialize with the host's arguments,
// the real module (a copy of the mock) given back when the bridge is
// unloaded after C_Finalize, and the host's SIGPIPE handler kept.
#include "bridge/bridge_platform.h"
#include "kavro/cryptoki.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool IsLoaded(const std::string &file) {
    void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library != nullptr) {
        dlclose(library);
    }
    return library != nullptr;
}

CK_RV GetFunctionList(void *library, CK_FUNCTION_LIST **list) {
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    return get != nullptr ? get(list) : CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV NoMutex(CK_VOID_PTR) { return CKR_OK; }
CK_RV NewMutex(CK_VOID_PTR_PTR mutex) {
    *mutex = nullptr;
    return CKR_OK;
}

class BridgeModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::path(::testing::TempDir()) /
                  ("bridge-module-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "config" / "kavro");
        for (const char *name : {"XDG_CONFIG_HOME", "KAVRO_BRIDGE_MODULE", "KAVRO_BRIDGE_INIT_ARGS"}) {
            const char *value = std::getenv(name);
            saved_.emplace_back(name, value != nullptr ? value : "");
            unsetenv(name);
        }
        setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        mock_ = Copy(KAVRO_TEST_MOCK_FILE, "mock.so");
    }
    void TearDown() override {
        for (const auto &[name, value] : saved_) {
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
        }
    }
    // Copies of one file are libraries of their own to the loader.
    std::string Copy(const std::string &from, const std::string &name) {
        fs::copy_file(from, folder_ / name, fs::copy_options::overwrite_existing);
        return (folder_ / name).string();
    }
    std::string Bridge(const std::string &name) { return Copy(KAVRO_TEST_BRIDGE_FILE, name); }
    // Loads zelcsp11.dll, a copy of the bridge, and asks it for its function list.
    CK_FUNCTION_LIST *Open() {
        bridge_ = dlopen(Bridge("zelcsp11.dll").c_str(), RTLD_NOW);
        CK_FUNCTION_LIST *list = nullptr;
        EXPECT_EQ(CKR_OK, GetFunctionList(bridge_, &list));
        return list;
    }
    void Close() { dlclose(bridge_); }
    void Configure(const std::string &text) { std::ofstream(folder_ / "config" / "kavro" / "bridge.conf") << text; }
    // Runs commands on the mock copy, which must be loaded.
    std::string Mock(const std::string &commands) {
        void *library = dlopen(mock_.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(nullptr, library);
        if (library == nullptr) {
            return {};
        }
        auto control = reinterpret_cast<int (*)(const char *, char *, unsigned long)>(dlsym(library, "MockControl"));
        char reply[4096] = {};
        control(commands.c_str(), reply, sizeof reply);
        dlclose(library);
        return reply;
    }

    fs::path folder_;
    std::string mock_;
    void *bridge_ = nullptr;
    std::vector<std::pair<std::string, std::string>> saved_;
};

// Each would call the other while starting; neither may wait for the other.
TEST_F(BridgeModuleTest, TwoBridgesSentToEachOtherFailAtOnceFromTwoThreads) {
    const std::string a = Bridge("a.dll");
    const std::string b = Bridge("b.dll");
    Configure("a.dll = " + b + "\nb.dll = " + a + "\n");
    void *first = dlopen(a.c_str(), RTLD_NOW);
    void *second = dlopen(b.c_str(), RTLD_NOW);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    ::testing::internal::CaptureStderr();
    std::atomic<int> ready{0};
    auto start = [&ready](void *library) {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        CK_FUNCTION_LIST *list = nullptr;
        return GetFunctionList(library, &list);
    };
    std::future<CK_RV> fromFirst = std::async(std::launch::async, start, first);
    std::future<CK_RV> fromSecond = std::async(std::launch::async, start, second);
    // A guard against a hang, not a measure of time.
    if (fromFirst.wait_for(std::chrono::minutes(1)) != std::future_status::ready ||
        fromSecond.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
        ADD_FAILURE() << "the bridges wait for each other";
        std::_Exit(1);
    }
    EXPECT_EQ(CKR_GENERAL_ERROR, fromFirst.get());
    EXPECT_EQ(CKR_GENERAL_ERROR, fromSecond.get());
    const std::string errors = ::testing::internal::GetCapturedStderr();
    for (const std::string &line : {"a.dll: " + b, "b.dll: " + a}) {
        EXPECT_NE(std::string::npos,
                  errors.find("kavro-bridge: " + line + " is a kavro bridge too; a bridge forwards to a token module only\n"))
            << errors;
    }
    EXPECT_EQ(2, std::count(errors.begin(), errors.end(), '\n')) << errors;
    dlclose(first);
    dlclose(second);
}

TEST_F(BridgeModuleTest, InitArgsGoWithTheHostsFlagsAndTheModuleGoesWithTheBridge) {
    setenv("KAVRO_BRIDGE_MODULE", mock_.c_str(), 1);
    setenv("KAVRO_BRIDGE_INIT_ARGS", "configdir='sql:/db' flags=", 1);
    CK_FUNCTION_LIST *list = Open();
    ASSERT_NE(nullptr, list);
    CK_C_INITIALIZE_ARGS args{NewMutex, NoMutex, NoMutex, NoMutex, CKF_OS_LOCKING_OK, nullptr};
    EXPECT_EQ(CKR_OK, list->C_Initialize(&args));
    EXPECT_EQ(nullptr, args.pReserved) << "the host's arguments are its own";
    const std::string journal = Mock("journal");
    EXPECT_EQ("C_Initialize flags=0x2 mutexes reserved=configdir='sql:/db' flags=\n",
              journal.substr(journal.find("C_Initialize")));
    EXPECT_EQ(CKR_OK, list->C_Finalize(nullptr));
    Close();
    EXPECT_FALSE(IsLoaded(mock_));
}

// kavro unloads a bridge whose module fails C_Initialize, and loads it
// afresh for its next call. A module still initialised stays: its
// functions may still be called through pointers the host kept.
TEST_F(BridgeModuleTest, AFailedInitializeIsOneLineAndTheModuleGoesWithTheBridgeUnlessInitialised) {
    Configure("zelcsp11.dll = " + mock_ + "\n");
    CK_FUNCTION_LIST *list = Open();
    ASSERT_NE(nullptr, list);
    Mock("fail C_Initialize 7");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CKR_ARGUMENTS_BAD, list->C_Initialize(nullptr));
    EXPECT_EQ("kavro-bridge: zelcsp11.dll: C_Initialize of " + mock_ +
                  " failed with 0x7; a module that needs initialisation arguments takes them from "
                  "zelcsp11.dll.init-args in bridge.conf\n",
              ::testing::internal::GetCapturedStderr());
    Close();
    EXPECT_FALSE(IsLoaded(mock_));

    list = Open();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(CKR_OK, list->C_Initialize(nullptr));
    Close();
    EXPECT_TRUE(IsLoaded(mock_));
}

using SignalHandler = void (*)(int);
void HostHandler(int) {}
SignalHandler SigpipeHandler() {
    struct sigaction now {};
    sigaction(SIGPIPE, nullptr, &now);
    return now.sa_handler;
}
void SetSigpipe(SignalHandler handler) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(SIGPIPE, &action, nullptr);
}
CK_RV IgnoreSigpipe(CK_VOID_PTR) {
    SetSigpipe(SIG_IGN);
    return CKR_OK;
}

// A module asks to ignore SIGPIPE, as NSPR does, once through the guard
// library's sigaction and once in C_Initialize: the host's handler stays
// (or is put back), a host that left the default gets what the module asked.
TEST(BridgeSigpipeTest, AHostsHandlerIsKeptAndADefaultGivesWay) {
    void *guard = dlopen(KAVRO_TEST_SIGPIPE_GUARD_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, guard) << dlerror();
    auto guarded = reinterpret_cast<int (*)(int, const struct sigaction *, struct sigaction *)>(dlsym(guard, "sigaction"));
    ASSERT_NE(nullptr, guarded);
    struct sigaction saved {};
    sigaction(SIGPIPE, nullptr, &saved);
    const std::pair<SignalHandler, SignalHandler> cases[] = {
        {HostHandler, HostHandler}, {SIG_DFL, SIG_IGN}, {SIG_IGN, SIG_IGN}};
    for (const auto &[host, after] : cases) {
        SetSigpipe(host);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previous {};
        EXPECT_EQ(0, guarded(SIGPIPE, &ignore, &previous));
        EXPECT_EQ(host, previous.sa_handler);
        EXPECT_EQ(after, SigpipeHandler()) << "through the guard";

        SetSigpipe(host);
        EXPECT_EQ(CKR_OK, kavro::bridge::InitializeModule(&IgnoreSigpipe, nullptr));
        EXPECT_EQ(after, SigpipeHandler()) << "after C_Initialize";
    }
    sigaction(SIGPIPE, &saved, nullptr);
    dlclose(guard);
}

}  // namespace
