// Self-discovering fault sweeps: each operation is run once to count its faultable platform
// calls, then once per call with that call failed.
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/sim/registry_control.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <functional>

namespace {

struct Outcome {
    std::string result;
    std::vector<std::string> log;
};

// Readers close their key before they log a failure.
bool KeyClosedBeforeAnythingLogged() {
    bool logged = false;
    for (const sim::Call& call : sim::Journal()) {
        logged = logged || call.op == "OpenLogFileForAppend";
        if (logged && call.op == "RegCloseKey") {
            return false;
        }
    }
    return true;
}

// `expected` holds the outcome with call 1, 2, ... failed, then the outcome with no fault.
void Sweep(const std::function<void()>& seed, const std::function<std::string()>& run,
           const std::vector<Outcome>& expected, bool closeBeforeLog = false) {
    int calls = 0;
    {
        sim::Reset();
        seed();
        LogCapture log;
        sim::ClearJournal();
        run();
        calls = sim::FaultableCallCount();
    }
    ASSERT_EQ(static_cast<std::size_t>(calls) + 1, expected.size()) << "faultable calls changed";
    for (int nth = 1; nth <= calls + 1; ++nth) {
        SCOPED_TRACE("failing faultable call " + std::to_string(nth));
        sim::Reset();
        seed();
        LogCapture log;
        sim::ClearJournal();
        sim::FailAnyCall(nth);
        const std::string result = run();
        EXPECT_EQ(sim::FaultsFired(), nth <= calls ? 1 : 0);
        EXPECT_EQ(result, expected[nth - 1].result);
        EXPECT_EQ(log.Entries(), expected[nth - 1].log);
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
}

TEST_F(FaultSweep, StartUpLeavesLoggingOffSilently) {
    // LogCapture has configured the path; the sweep runs the start-up again under each fault.
    Sweep([] {},
          [] {
              InitLog();
              return std::string(g_logEnabled ? "on" : "off") +
                     (g_logPath[0] == '\0' ? "" : " path");
          },
          {{"off", {}}, {"off", {}}, {"off", {}}, {"on path", {}}});
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
