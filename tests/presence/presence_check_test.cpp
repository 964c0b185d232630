#include "trigger/presence_check.h"

#include "config/config_values.h"
#include "platform/device_properties.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/setupapi_control.h"
#include "tests/presence/guid_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/input_census.h"

#include <algorithm>
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
        if (m.rfind("built-in", 0) == 0 || m.rfind("mouse number", 0) == 0 ||
            m.rfind("external", 0) == 0) {
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

// Convertibles as Windows places their devices: built in, or in a container of their own.
TEST_F(PresenceCheckTest, ExternalDevicesOnlyCountsWhatIsOutsideTheMachine) {
    constexpr GUID kOwn = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const GUID& machine = device_property::kMachineContainer;
    const std::vector<std::string> on = {"external devices only"};
    const struct {
        const char* name;
        std::optional<DWORD> mode;
        std::string trigger;
        std::vector<const GUID*> keyboards, mice; // null: no container data
        bool attached;
        std::vector<std::string> lines;
    } cases[] = {
        {"button keyboard and an attached one, the number ignored",
         1,
         "keyboard",
         {&machine, &kOwn},
         {},
         true,
         on},
        {"button keyboard alone", 1, "keyboard", {&machine}, {}, false, on},
        {"touchpad and an attached mouse", 1, "mouse", {}, {&machine, &kOwn}, true, on},
        {"touchpad alone", 1, "mouse", {}, {&machine}, false, on},
        {"a cover in the machine's container",
         1,
         "",
         {&machine, &machine},
         {&machine},
         false,
         {"external devices only", "mouse number: 0, keyboard number: 0"}},
        {"containers that cannot be told count", 1, "keyboard", {nullptr}, {}, true, on},
        {"mode 0: the number, as ever",
         0,
         "keyboard",
         {&machine, &kOwn},
         {},
         false,
         {"built-in keyboards number: 2"}},
        {"mode 2: likewise", 2, "mouse", {}, {&machine}, true, {"built-in keyboards number: 2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        SetTrigger(c.trigger);
        SetBuiltIn(2);
        if (c.mode) {
            sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kExternalDevicesOnlyValue,
                                  *c.mode);
        }
        for (const GUID* container : c.keyboards) {
            const int id = sim::AddHidKeyboard();
            if (container != nullptr) {
                sim::PlaceInContainer(id, *container);
            }
        }
        for (const GUID* container : c.mice) {
            sim::PlaceInContainer(sim::AddHidMouse(), *container);
        }
        LogCapture log;
        EXPECT_EQ(IsExternalInputAttached(), c.attached);
        EXPECT_EQ(CheckLines(log), c.lines);
        // In the mode the number is not even read.
        const std::vector<std::string> queries = sim::CallsTo("RegQueryValueExA");
        EXPECT_EQ(std::count_if(queries.begin(), queries.end(),
                                [](const std::string& q) {
                                    return q.find(kBuiltInKeyboardNumberValue) != std::string::npos;
                                }) == 0,
                  c.mode == 1u);
    }
}

// With the mode off the census makes today's calls, whatever container data the devices carry.
TEST_F(PresenceCheckTest, ModeOffMakesTodaysCensusCalls) {
    // Mode as a type and data (REG_NONE: absent); containers or not.
    const auto censusCalls = [](DWORD type, const std::vector<BYTE>& mode, bool containers) {
        sim::Reset();
        SetBuiltIn(1);
        if (type != REG_NONE) {
            sim::SetRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, kExternalDevicesOnlyValue,
                                  type, mode);
        }
        const int german = sim::AddHidKeyboard(L"HID-Tastatur");
        sim::InstallDriver(german, L"HID_DEVICE_SYSTEM_KEYBOARD", L"keyboard.inf");
        for (const int id : {sim::AddHidKeyboard(), german, sim::AddHidMouse(L"Touchpad")}) {
            if (containers) {
                sim::PlaceInContainer(id, device_property::kMachineContainer);
            }
        }
        sim::ClearJournal();
        EXPECT_FALSE(IsExternalInputAttached());
        std::vector<std::string> calls;
        for (const sim::Call& call : sim::Journal()) {
            calls.push_back(call.op.rfind("SetupDi", 0) == 0 ? call.op + "(" + call.args + ")"
                                                             : "");
        }
        calls.erase(std::remove(calls.begin(), calls.end(), ""), calls.end());
        return calls;
    };
    const std::vector<std::string> today = censusCalls(REG_NONE, {}, false);
    ASSERT_FALSE(today.empty());
    EXPECT_EQ(censusCalls(REG_NONE, {}, true), today);
    EXPECT_EQ(censusCalls(REG_DWORD, {0, 0, 0, 0}, true), today);
    EXPECT_EQ(censusCalls(REG_DWORD, {2, 0, 0, 0}, true), today);
    EXPECT_EQ(censusCalls(REG_SZ, {'1', 0}, true), today);
    EXPECT_EQ(censusCalls(REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, true), today);
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
