#include "trigger/presence_check.h"

#include "config/config_values.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/setupapi_control.h"
#include "tests/presence/guid_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/input_census.h"

#include <optional>
#include <string>
#include <vector>

namespace {

void SetTrigger(const std::string& value) {
    sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue, value);
}

void SetBuiltIn(DWORD value) {
    sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, value);
}

// Censuses are told apart by the class their device information set was built for.
int Censuses(DeviceKind kind) {
    const std::string guid = GuidText(GetDeviceInterfaceGuid(kind));
    int count = 0;
    for (const std::string& args : sim::CallsTo("SetupDiGetClassDevsW")) {
        count += args.rfind(guid, 0) == 0 ? 1 : 0;
    }
    return count;
}

void ExpectPauses(int pauses) {
    EXPECT_EQ(sim::CallsTo("Sleep"), std::vector<std::string>(pauses, "30"));
    EXPECT_EQ(sim::VirtualTimeMs(), 30u * pauses);
}

// The check's own lines; the configuration readers' lines are theirs to test.
std::vector<std::string> CheckLines(const LogCapture& log) {
    std::vector<std::string> lines;
    for (const std::string& m : log.Messages()) {
        if (m.rfind("built-in", 0) == 0 || m.rfind("mouse number", 0) == 0) {
            lines.push_back(m);
        }
    }
    return lines;
}

using PresenceCheckTest = SimTest;

TEST_F(PresenceCheckTest, LowerCasesOnlyAsciiCapitals) {
    SetTrigger("MoUsE \xC9\xE9@[Z");
    EXPECT_EQ(ReadTriggerDevice(), "mouse \xC9\xE9@[z");
}

TEST_F(PresenceCheckTest, SelectsTriggerRetriesAndLogs) {
    const std::vector<std::string> none;
    const struct {
        const char* name;
        std::optional<std::string> trigger;
        std::optional<DWORD> builtIn;
        int mice, keyboards;
        bool attached;
        int pauses, mouseCensuses, keyboardCensuses;
        std::vector<std::string> lines;
    } cases[] = {
        // clang-format off
        {"capitals, mouse present", "MOUSE", 0, 1, 0, true, 0, 1, 0, none},
        {"mouse absent", "mouse", 0, 0, 3, false, 3, 4, 0, none},
        {"only the built-in keyboard", "keyboard", 1, 0, 1, false, 3, 0, 4,
         {"built-in keyboards number: 1"}},
        {"an external keyboard", "keyboard", 1, 0, 2, true, 0, 0, 1,
         {"built-in keyboards number: 1"}},
        {"number missing", "Keyboard", std::nullopt, 0, 1, true, 0, 0, 1, none},
        {"number with top bit set", "KEYBOARD", 0x80000000, 0, 1, true, 0, 0, 1, none},
        {"built-in logged under mouse", "mouse", 2, 1, 0, true, 0, 1, 0,
         {"built-in keyboards number: 2"}},
        {"trigger missing", std::nullopt, 1, 1, 2, true, 0, 1, 1,
         {"built-in keyboards number: 1", "mouse number: 1, keyboard number: 2"}},
        {"trigger empty, keyboards not above built-in", "", 2, 1, 2, false, 3, 4, 4,
         {"built-in keyboards number: 2", "mouse number: 1, keyboard number: 2"}},
        {"trailing blank", "keyboard ", 0, 0, 1, false, 3, 4, 4,
         {"mouse number: 0, keyboard number: 1"}},
        {"leading blank", " mouse", 0, 1, 0, false, 3, 4, 4,
         {"mouse number: 1, keyboard number: 0"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        if (c.trigger) {
            SetTrigger(*c.trigger);
        }
        if (c.builtIn) {
            SetBuiltIn(*c.builtIn);
        }
        for (int i = 0; i < c.mice; ++i) {
            sim::AddHidMouse();
        }
        for (int i = 0; i < c.keyboards; ++i) {
            sim::AddHidKeyboard();
        }
        LogCapture log;
        EXPECT_EQ(IsExternalInputAttached(), c.attached);
        ExpectPauses(c.pauses);
        EXPECT_EQ(Censuses(kMouseKind), c.mouseCensuses);
        EXPECT_EQ(Censuses(kKeyboardKind), c.keyboardCensuses);
        EXPECT_EQ(CheckLines(log), c.lines);
    }
}

TEST_F(PresenceCheckTest, RetryThatFindsInputLogsItsLoopNumber) {
    SetBuiltIn(1);
    for (int i = 0; i < 5; ++i) {
        sim::AddHidKeyboard();
    }
    sim::SetSleepHook([](DWORD, int sleepNumber) {
        if (sleepNumber == 2) {
            sim::AddHidMouse();
        }
    });
    LogCapture log;
    EXPECT_TRUE(IsExternalInputAttached());
    ExpectPauses(2);
    EXPECT_EQ(CheckLines(log),
              (std::vector<std::string>{"built-in keyboards number: 1",
                                        "mouse number: 0, keyboard number: 5",
                                        "mouse number: 1, keyboard number: 5, loop: 2"}));
}

} // namespace
