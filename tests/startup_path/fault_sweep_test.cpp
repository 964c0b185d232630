// Self-discovering fault sweeps: each operation is run once to count its faultable platform
// calls, then once per call with that call failed.
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/sim/registry_control.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <algorithm>
#include <functional>
#include <optional>

namespace {

struct Outcome {
    std::string result;
    std::vector<std::string> log;
};

// Readers close their key before they log a failure.
bool KeyClosedBeforeAnythingLogged() {
    bool logged = false;
    for (const sim::Call& call : sim::Journal()) {
        logged = logged || IsLogCall(call);
        if (logged && call.op == "RegCloseKey") {
            return false;
        }
    }
    return true;
}

// `expected` holds the outcome with each call failed in turn, then the outcome with no fault. The
// log's own calls are left out of it: failing one drops the line being written and changes
// nothing else, unless `onLogCall` says what it gives instead.
void Sweep(const std::function<void()>& seed, const std::function<std::string()>& run,
           const std::vector<Outcome>& expected, bool closeBeforeLog = false,
           const std::optional<Outcome>& onLogCall = std::nullopt) {
    std::vector<sim::Call> calls;
    Outcome complete;
    {
        sim::Reset();
        seed();
        LogCapture log;
        sim::ClearJournal();
        complete.result = run();
        complete.log = log.Entries();
        for (const sim::Call& call : sim::Journal()) {
            if (call.faultable) {
                calls.push_back(call);
            }
        }
    }
    const auto logCalls = std::count_if(calls.begin(), calls.end(), IsLogCall);
    ASSERT_EQ(calls.size() - static_cast<std::size_t>(logCalls) + 1, expected.size())
        << "faultable calls changed";
    std::size_t next = 0;
    for (std::size_t nth = 1; nth <= calls.size() + 1; ++nth) {
        const bool logCall = nth <= calls.size() && IsLogCall(calls[nth - 1]);
        SCOPED_TRACE("failing faultable call " + std::to_string(nth) +
                     (nth <= calls.size() ? ": " + calls[nth - 1].op : std::string()));
        sim::Reset();
        seed();
        LogCapture log;
        sim::ClearJournal();
        sim::FailAnyCall(static_cast<int>(nth));
        const std::string result = run();
        EXPECT_EQ(sim::FaultsFired(), nth <= calls.size() ? 1 : 0);
        if (logCall && !onLogCall) {
            EXPECT_EQ(result, complete.result);
            EXPECT_TRUE(OneLineDropped(complete.log, log.Entries()))
                << ::testing::PrintToString(log.Entries());
        } else {
            const Outcome& want = logCall ? *onLogCall : expected[next++];
            EXPECT_EQ(result, want.result);
            EXPECT_EQ(log.Entries(), want.log);
        }
        EXPECT_EQ(sim::OpenHandleCount(), 0);
        if (closeBeforeLog) {
            EXPECT_TRUE(KeyClosedBeforeAnythingLogged());
        }
        sim::ClearFaults();
    }
}

std::function<void()> SeedConfig() {
    return [] {
        sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue, "mouse");
        sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 2);
    };
}

std::function<void()> SeedSlateMode(DWORD value) {
    return [=] {
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, value);
    };
}

std::string Text(bool value) {
    return value ? "true" : "false";
}

const std::string kOpen = "E:open key(System\\CurrentControlSet) failed: 5";

class FaultSweep : public SimTest {};

TEST_F(FaultSweep, ReadersGiveTheNeutralResultAndTheirLine) {
    Sweep(
        SeedConfig(), [] { return ReadConfigString(kConfigKeyPath, kTriggerDeviceValue); },
        {{"", {kOpen}},
         {"", {"V:query value (HingeflowTriggerDevice) failed: 5"}},
         {"", {"E:query key(HingeflowTriggerDevice) value failed: 5"}},
         {"mouse", {}}},
        true);
    Sweep(
        SeedConfig(),
        [] { return std::to_string(ReadConfigDword(kConfigKeyPath, kBuiltInKeyboardNumberValue)); },
        {{"0", {kOpen}},
         {"0", {"V:query value (BuiltInHIDKeyboardNumber) failed: 5"}},
         {"0", {"E:query key(BuiltInHIDKeyboardNumber) value failed: 5"}},
         {"2", {}}},
        true);
    Sweep(SeedConfig(), [] { return ReadConfigStringQuiet(kConfigKeyPath, kTriggerDeviceValue); },
          {{"", {}}, {"", {}}, {"", {}}, {"mouse", {}}});
    // A policy value that fails to read is refused by name, and the configuration decides.
    const std::string refused = "E:policy value (HingeflowTriggerDevice) refused: ";
    Sweep(
        [] {
            SeedConfig()();
            sim::SetRegistryString(HKEY_LOCAL_MACHINE, kPolicyKeyPath, kTriggerDeviceValue, "kb");
        },
        [] { return ReadSettingString(kTriggerDeviceValue); },
        {{"mouse", {refused + "the policy key cannot be opened (error 5)"}},
         {"mouse", {refused + "it cannot be queried (error 5)"}},
         {"mouse", {refused + "it cannot be read (error 5)"}},
         {"kb", {}}});
}

TEST_F(FaultSweep, StartUpLeavesLoggingOffSilently) {
    // LogCapture has configured the path; the sweep runs the start-up again under each fault.
    Sweep([] {},
          [] {
              InitLog();
              return std::string(g_logEnabled ? "on" : "off") +
                     (g_logPath[0] == '\0' ? "" : " path");
          },
          // A policy key that cannot be opened leaves the configuration's path to decide.
          {{"on path", {}}, {"off", {}}, {"off", {}}, {"off", {}}, {"on path", {}}}, false,
          Outcome{"off", {}});
}

TEST_F(FaultSweep, SwitchReportsEachFailedCall) {
    const std::string temporary = "V:SetTabletMode, temperal value: 10";
    Sweep(SeedSlateMode(1), [] { return Text(SetTabletMode(1, true)); },
          {{"false", {"E:open key failed: 5"}},
           {"false", {"E:query ConvertibleSlateMode failed: 5"}},
           {"true", {temporary}}, // the temporary write's failure goes unreported
           {"false", {temporary, "E:set ConvertibleSlateMode failed: 5"}},
           {"true", {temporary}}});
    Sweep(
        SeedSlateMode(0), [] { return Text(InitializeConvertibleSlateMode()); },
        {{"false", {"E:open key failed: 5", "V:InitializeConvertibleSlateMode: 0"}},
         {"false",
          {"E:query ConvertibleSlateMode failed: 5", "V:InitializeConvertibleSlateMode: 0"}},
         {"false", {"E:set ConvertibleSlateMode failed: 5", "V:InitializeConvertibleSlateMode: 0"}},
         {"true", {"V:InitializeConvertibleSlateMode: 1"}}});
}

} // namespace
