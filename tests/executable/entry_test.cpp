// The command line: which role a first argument selects, and the service role started by hand.
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/security_control.h"
#include "service/redirection_guard.h"
#include "tests/executable/entry_runner.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

class EntryTest : public SimTest {};

TEST_F(EntryTest, OnlyTheExactRoleWordsAreRecognised) {
    const std::vector<std::vector<std::wstring>> rejected = {
        {L"Install"},    {L"INSTALL"},  {L"install "},   {L" install"}, {L"Uninstall"},
        {L"uninstall "}, {L"/install"}, {L"-uninstall"}, {L""},         {L"run", L"install"},
    };
    for (const auto& args : rejected) {
        sim::Reset();
        EXPECT_EQ(RunEntry(args), -1);
        EXPECT_EQ(sim::ConsoleOutput(), L"Invalid argument\n");
        EXPECT_TRUE(sim::Journal().size() == 1 && sim::Journal()[0].op == "ConsolePrintf")
            << "nothing but the message";
    }
}

// The usage text under each of its words; status takes --json and nothing else, since a script
// reading its output is better refused than answered in the other form.
TEST_F(EntryTest, HelpWordsPrintTheUsageAndStatusRefusesOtherOptions) {
    for (const wchar_t* word : {L"help", L"/?", L"-h", L"--help"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(word)));
        sim::Reset();
        EXPECT_EQ(RunEntry({word, L"ignored"}), 0);
        const std::wstring usage = sim::ConsoleOutput();
        EXPECT_EQ(usage.rfind(L"Usage: hingeflow.exe [install | uninstall | status [--json] | "
                              L"help]\n",
                              0),
                  0u)
            << testing::PrintToString(usage);
        for (const wchar_t* listed : {L"\n  install ", L"\n  uninstall ", L"\n  status ",
                                      L"\n  status --json ", L"\n  (no argument) "}) {
            EXPECT_NE(usage.find(listed), std::wstring::npos) << testing::PrintToString(listed);
        }
        EXPECT_EQ(sim::CountCalls("OpenSCManagerW") + sim::CountCalls("RegOpenKeyExA"), 0);
    }
    const std::vector<std::vector<std::wstring>> refused = {
        {L"status", L"--JSON"}, {L"status", L"json"}, {L"status", L"--json", L"x"}, {L"Status"}};
    for (const auto& args : refused) {
        SCOPED_TRACE(testing::PrintToString(args));
        sim::Reset();
        EXPECT_EQ(RunEntry(args), -1);
        EXPECT_EQ(sim::ConsoleOutput(), L"Invalid argument\n");
    }
}

TEST_F(EntryTest, ArgumentsAfterTheFirstAreIgnored) {
    EXPECT_EQ(RunEntry({L"install", L"uninstall", L"extra"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\nService installed\n");
    sim::ClearConsoleOutput();
    EXPECT_EQ(RunEntry({L"uninstall", L"install"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Didn't control service: 1062\n"
                                    L"Service uninstalled\n");
    EXPECT_EQ(sim::ServiceCount(), 0);
}

// Started by hand, outside any SCM: laptop mode is forced first, then the dispatcher fails and
// the process ends quietly with 0.
TEST_F(EntryTest, ServiceRoleForcesLaptopModeBeforeContactingTheScm) {
    sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, 0);
    EXPECT_EQ(RunEntry({}), 0);
    EXPECT_EQ(sim::GetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue), 1u);
    EXPECT_EQ(sim::ConsoleOutput(), L"");

    std::vector<std::string> ops;
    for (const sim::Call& call : sim::Journal()) {
        ops.push_back(call.op);
    }
    const auto write = std::find(ops.begin(), ops.end(), "RegSetValueExA");
    const auto dispatcher = std::find(ops.begin(), ops.end(), "StartServiceCtrlDispatcherW");
    ASSERT_NE(write, ops.end());
    ASSERT_NE(dispatcher, ops.end());
    EXPECT_LT(write, dispatcher);
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "StartServiceCtrlDispatcherW"), 1);
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "OpenSCManagerW"), 0);
}

// Only the roles that log decide on the log: a missing log file stays missing after status,
// help and a mistyped word, and is made by the service, install and uninstall.
TEST_F(EntryTest, OnlyTheRolesThatLogMakeTheLogFile) {
    const std::string path = testing::TempDir() + "hingeflow-roles.log";
    const std::vector<std::pair<std::vector<std::wstring>, bool>> rows = {
        {{L"status"}, false},
        {{L"status", L"--json"}, false},
        {{L"help"}, false},
        {{L"bogus"}, false},
        {{L"install"}, true},
        {{L"uninstall"}, true},
        {{}, true}};
    for (const auto& [args, makes] : rows) {
        SCOPED_TRACE(testing::PrintToString(args));
        sim::Reset();
        std::remove(path.c_str());
        sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kLogPathValue, path);
        RunEntry(args);
        EXPECT_EQ(std::ifstream(path).good(), makes);
    }
    sim::Reset();
    InitLog(); // off again for the tests that follow
    std::remove(path.c_str());
}

// RedirectionGuard goes on where kernel32 offers its policy; older Windows (and Wine) refuse the
// policy or lack the call, which changes nothing else.
TEST_F(EntryTest, RedirectionGuardIsOnWhereWindowsOffersIt) {
    using Offered = sim::MitigationPolicies;
    for (const auto& [offered, policy] :
         {std::pair<Offered, std::optional<DWORD>>{Offered::Missing, std::nullopt},
          {Offered::WithoutRedirectionTrust, std::nullopt},
          {Offered::WithRedirectionTrust, 1}}) {
        SCOPED_TRACE(static_cast<int>(offered));
        sim::Reset();
        sim::SetMitigationPolicies(offered);
        EnableRedirectionGuard();
        EXPECT_EQ(sim::RedirectionTrustPolicy(), policy);
    }
}

} // namespace
