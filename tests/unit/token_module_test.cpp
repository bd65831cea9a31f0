// TokenModule::Start and the module table against a scripted loader: which
// loads, lookups and unloads each start makes, what a failed start leaves
// behind, and starts asked for by several threads at once.
#include "token/token_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace kavro {
namespace {

struct FakeModule {
    bool loadable = true;
    bool hasFunctionList = true;
    bool hasAux = true;
    CK_RV functionListResult = CKR_OK;
    CK_RV auxResult = CKR_OK;
    CK_RV initializeResult = CKR_OK;
    CK_RV initializeWithoutLockingResult = CKR_OK;
    std::vector<std::string> calls;
};

FakeModule *fake;
CK_FUNCTION_LIST fakeFunctions;
AuxFunctionList fakeAux;
int handleToken;

CK_RV FakeInitialize(void *args) {
    if (args == nullptr) {
        fake->calls.push_back("C_Initialize for one thread");
        return fake->initializeWithoutLockingResult;
    }
    const auto *threads = static_cast<CK_C_INITIALIZE_ARGS *>(args);
    fake->calls.push_back(threads->flags == CKF_OS_LOCKING_OK && threads->CreateMutex == nullptr
                              ? "C_Initialize"
                              : "C_Initialize with other arguments");
    return fake->initializeResult;
}

CK_RV FakeGetFunctionList(CK_FUNCTION_LIST **list) {
    fake->calls.push_back("C_GetFunctionList");
    *list = &fakeFunctions;
    return fake->functionListResult;
}

CK_RV FakeGetAux(AuxFunctionList **list) {
    fake->calls.push_back("E_GetAuxFunctionList");
    *list = &fakeAux;
    return fake->auxResult;
}

const ModuleLoader fakeLoader{
    [](const char *name) -> LibraryHandle {
        fake->calls.push_back(std::string("load ") + name);
        return fake->loadable ? &handleToken : nullptr;
    },
    [](LibraryHandle, const char *name) -> void * {
        std::string symbol(name);
        if (symbol == "C_GetFunctionList" && fake->hasFunctionList) {
            return reinterpret_cast<void *>(&FakeGetFunctionList);
        }
        if (symbol == "E_GetAuxFunctionList" && fake->hasAux) {
            return reinterpret_cast<void *>(&FakeGetAux);
        }
        return nullptr;
    },
    [](LibraryHandle) { fake->calls.push_back("unload"); },
};

class TokenModuleStart : public ::testing::Test {
protected:
    void SetUp() override {
        fake = &module_;
        fakeFunctions = CK_FUNCTION_LIST{};
        fakeFunctions.C_Initialize = FakeInitialize;
    }

    void ExpectUnloaded(const TokenModule &token) {
        EXPECT_EQ(token.library, nullptr);
        EXPECT_EQ(token.functionList, nullptr);
        EXPECT_EQ(token.auxFunctionList, nullptr);
        EXPECT_EQ(token.initialised, 0);
    }

    FakeModule module_;
    TokenModule token_{fakeLoader};
};

using Calls = std::vector<std::string>;

TEST_F(TokenModuleStart, LoadsFetchesBothTablesAndInitialisesOnce) {
    EXPECT_TRUE(token_.Start("a.dll", "a.dll"));
    EXPECT_EQ(module_.calls, (Calls{"load a.dll", "C_GetFunctionList", "E_GetAuxFunctionList", "C_Initialize"}));
    EXPECT_EQ(token_.functionList, &fakeFunctions);
    EXPECT_EQ(token_.auxFunctionList, &fakeAux);
    EXPECT_EQ(token_.initialised, 1);
    module_.calls.clear();
    EXPECT_TRUE(token_.Start("a.dll", "a.dll"));
    EXPECT_TRUE(module_.calls.empty());
}

TEST_F(TokenModuleStart, AMissingLibraryIsLookedForUnderBothNamesEachTime) {
    module_.loadable = false;
    EXPECT_FALSE(token_.Start("a.dll", "b.dll"));
    EXPECT_FALSE(token_.Start("a.dll", "b.dll"));
    EXPECT_EQ(module_.calls, (Calls{"load a.dll", "load b.dll", "load a.dll", "load b.dll"}));
    ExpectUnloaded(token_);
}

TEST_F(TokenModuleStart, EachMissingOrRefusingStepUnloadsAndTheNextStartBeginsAgain) {
    struct Case {
        const char *name;
        void (*script)(FakeModule &);
        Calls calls;
    };
    const Case cases[] = {
        {"no C_GetFunctionList", [](FakeModule &m) { m.hasFunctionList = false; }, {"load x", "unload"}},
        {"C_GetFunctionList refuses", [](FakeModule &m) { m.functionListResult = CKR_GENERAL_ERROR; },
         {"load x", "C_GetFunctionList", "unload"}},
        {"no E_GetAuxFunctionList", [](FakeModule &m) { m.hasAux = false; },
         {"load x", "C_GetFunctionList", "unload"}},
        {"E_GetAuxFunctionList refuses", [](FakeModule &m) { m.auxResult = 1; },
         {"load x", "C_GetFunctionList", "E_GetAuxFunctionList", "unload"}},
        {"C_Initialize refuses", [](FakeModule &m) { m.initializeResult = CKR_FUNCTION_FAILED; },
         {"load x", "C_GetFunctionList", "E_GetAuxFunctionList", "C_Initialize", "unload"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeModule scripted;
        c.script(scripted);
        fake = &scripted;
        TokenModule token(fakeLoader);
        EXPECT_FALSE(token.Start("x", "x"));
        EXPECT_EQ(scripted.calls, c.calls);
        ExpectUnloaded(token);
        scripted.calls.clear();
        EXPECT_FALSE(token.Start("x", "x"));
        EXPECT_EQ(scripted.calls, c.calls) << "the whole start is tried again";
    }
}

TEST_F(TokenModuleStart, AlreadyInitialisedCountsAsStarted) {
    module_.initializeResult = CKR_CRYPTOKI_ALREADY_INITIALIZED;
    EXPECT_TRUE(token_.Start("a", "a"));
    EXPECT_EQ(token_.initialised, 1);
}

TEST_F(TokenModuleStart, ATableReportedAsGivenButLeftNullIsRefused) {
    module_.hasAux = true;
    fakeFunctions.C_Initialize = nullptr;
    EXPECT_FALSE(token_.Start("a", "a"));
    ExpectUnloaded(token_);
}

TEST_F(TokenModuleStart, AModuleThatCannotLockIsStartedForOneThreadAndSaysSo) {
    module_.initializeResult = CKR_CANT_LOCK;
    EXPECT_TRUE(token_.Start("a", "a"));
    EXPECT_EQ(module_.calls, (Calls{"load a", "C_GetFunctionList", "E_GetAuxFunctionList", "C_Initialize",
                                    "C_Initialize for one thread"}));
    EXPECT_TRUE(token_.oneCallAtATime);

    FakeModule refusing;
    refusing.initializeResult = CKR_CANT_LOCK;
    refusing.initializeWithoutLockingResult = CKR_GENERAL_ERROR;
    fake = &refusing;
    TokenModule token(fakeLoader);
    EXPECT_FALSE(token.Start("b", "b"));
    ExpectUnloaded(token);
}

TEST_F(TokenModuleStart, ThreadsAskingAtOnceStartTheModuleOnce) {
    TokenModuleTable table(fakeLoader);
    std::vector<std::thread> threads;
    std::atomic<int> started{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] { started += table.Started(2) != nullptr ? 1 : 0; });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(started, 8);
    EXPECT_EQ(module_.calls, (Calls{"load dunmere-ca.dll", "C_GetFunctionList", "E_GetAuxFunctionList", "C_Initialize"}));
}

TEST(ModuleLibraryName, NamesTheFiveKindsAndNothingElse) {
    TokenModuleTable table(PlatformLoader());
    EXPECT_STREQ(table.LibraryName(0), "zelcsp11.dll");
    EXPECT_STREQ(table.LibraryName(1), "orbeka-ca_csp11.dll");
    EXPECT_STREQ(table.LibraryName(2), "dunmere-ca.dll");
    EXPECT_STREQ(table.LibraryName(3), "talvis-ca.dll");
    EXPECT_STREQ(table.LibraryName(4), "MorvenCA.dll");
    for (int kind : {5, -1, 100, 1000}) {
        EXPECT_STREQ(table.LibraryName(kind), "") << kind;
    }
}

}  // namespace
}  // namespace kavro
