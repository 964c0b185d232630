// The configuration readers over every shape a stored value can take.
#include "config/config_values.h"
#include "platform/sim/registry_control.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"

#include <algorithm>
#include <functional>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Text(const std::string& text, bool terminated = true) {
    Bytes bytes(text.begin(), text.end());
    if (terminated) {
        bytes.push_back(0);
    }
    return bytes;
}

struct Row {
    const char* name;
    std::function<void()> seed;
    std::string result;
    std::vector<std::string> log;
};

std::function<void()> Store(const char* valueName, DWORD type, Bytes data) {
    return
        [=] { sim::SetRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, valueName, type, data); };
}

const std::string kOpenFailed2 = "E:open key(System\\CurrentControlSet) failed: 2";
const std::string kOpenFailed5 = "E:open key(System\\CurrentControlSet) failed: 5";
const std::string kWrongType = "E:incorrect value type";

void DenyKey() {
    sim::CreateRegistryKey(HKEY_CURRENT_CONFIG, kConfigKeyPath);
    sim::SetKeyAccess(HKEY_CURRENT_CONFIG, kConfigKeyPath, KEY_SET_VALUE);
}

// The result must not depend on whether logging is on; the quiet reader never logs.
template <typename Read> void Check(const Row& row, Read read, bool quiet = false) {
    SCOPED_TRACE(row.name);
    sim::Reset();
    row.seed();
    EXPECT_EQ(read(), row.result) << "with logging off";
    sim::Reset();
    LogCapture log; // its path lives under the same key, so the row is applied after it
    row.seed();
    sim::ClearJournal();
    EXPECT_EQ(read(), row.result);
    EXPECT_EQ(log.Entries(), quiet ? std::vector<std::string>{} : row.log);
    EXPECT_EQ(sim::CallsTo("RegOpenKeyExA"),
              std::vector<std::string>{"HKCC\\System\\CurrentControlSet sam=0x20019"});
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

class ConfigValues : public SimTest {};

TEST_F(ConfigValues, TextIsReadUpToItsFirstZeroWithinTheBufferOnly) {
    const char* name = kTriggerDeviceValue;
    const std::string longest(2047, 'k');
    const std::string tooLong = "E:query key(HingeflowTriggerDevice) value failed: 234";
    const Row rows[] = {
        {"absent",
         [] { sim::CreateRegistryKey(HKEY_CURRENT_CONFIG, kConfigKeyPath); },
         "",
         {"V:query value (HingeflowTriggerDevice) failed: 2"}},
        {"key absent",
         [] { sim::DeleteRegistryKey(HKEY_CURRENT_CONFIG, kConfigKeyPath); },
         "",
         {kOpenFailed2}},
        {"key denied", DenyKey, "", {kOpenFailed5}},
        {"expandable", Store(name, REG_EXPAND_SZ, Text("mouse")), "", {kWrongType}},
        {"multi", Store(name, REG_MULTI_SZ, Text(std::string("mouse\0", 6))), "", {kWrongType}},
        {"dword", Store(name, REG_DWORD, {1, 0, 0, 0}), "", {kWrongType}},
        {"empty text", Store(name, REG_SZ, Text("")), "", {}},
        {"no data at all", Store(name, REG_SZ, {}), "", {}},
        {"no terminator", Store(name, REG_SZ, Text("Mouse", false)), "Mouse", {}},
        {"embedded zero", Store(name, REG_SZ, Text(std::string("key\0board", 9))), "key", {}},
        {"2047 characters", Store(name, REG_SZ, Text(longest)), longest, {}},
        {"2047 without terminator", Store(name, REG_SZ, Text(longest, false)), longest, {}},
        {"2048 without terminator", Store(name, REG_SZ, Text(longest + "k", false)), "", {tooLong}},
        {"4000 characters", Store(name, REG_SZ, Text(std::string(4000, 'k'))), "", {tooLong}},
    };
    for (const Row& row : rows) {
        Check(row, [&] { return ReadConfigString(kConfigKeyPath, name); });
        Check(
            row, [&] { return ReadConfigStringQuiet(kConfigKeyPath, name); }, true);
    }
}

TEST_F(ConfigValues, NumberIsTheStoredBitsLittleEndianAndNeverMoreThanFourBytes) {
    const char* name = kBuiltInKeyboardNumberValue;
    const Row rows[] = {
        {"absent",
         [] { sim::CreateRegistryKey(HKEY_CURRENT_CONFIG, kConfigKeyPath); },
         "0",
         {"V:query value (BuiltInHIDKeyboardNumber) failed: 2"}},
        {"key absent",
         [] { sim::DeleteRegistryKey(HKEY_CURRENT_CONFIG, kConfigKeyPath); },
         "0",
         {kOpenFailed2}},
        {"key denied", DenyKey, "0", {kOpenFailed5}},
        {"text", Store(name, REG_SZ, Text("2")), "0", {kWrongType}},
        {"binary", Store(name, REG_BINARY, {2, 0, 0, 0}), "0", {kWrongType}},
        {"two", Store(name, REG_DWORD, {2, 0, 0, 0}), "2", {}},
        {"all bits", Store(name, REG_DWORD, {0xff, 0xff, 0xff, 0xff}), "4294967295", {}},
        {"two bytes", Store(name, REG_DWORD, {0x34, 0x12}), "4660", {}},
        {"no bytes", Store(name, REG_DWORD, {}), "0", {}},
        {"eight bytes",
         Store(name, REG_DWORD, {2, 0, 0, 0, 0, 0, 0, 0}),
         "0",
         {"E:query key(BuiltInHIDKeyboardNumber) value failed: 234"}},
    };
    for (const Row& row : rows) {
        Check(row, [&] { return std::to_string(ReadConfigDword(kConfigKeyPath, name)); });
    }
}

// Policy first, value by value: a readable policy value decides and the configuration is not
// read; an unusable one is refused by name; no policy key or value leaves today's lines as they
// were.
TEST_F(ConfigValues, PolicyWinsValueByValueAndAnUnusableOneIsRefusedByName) {
    const auto policy = [](const char* name, DWORD type, Bytes data) {
        return [=] { sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kPolicyKeyPath, name, type, data); };
    };
    const auto both = [](std::function<void()> a, std::function<void()> b) {
        return [=] { a(), b(); };
    };
    const char* trigger = kTriggerDeviceValue;
    const char* number = kBuiltInKeyboardNumberValue;
    const char* mode = kExternalDevicesOnlyValue; // read by the reader that logs no absence
    const auto keyboard = Store(trigger, REG_SZ, Text("keyboard"));
    const std::string refused = "E:policy value (HingeflowTriggerDevice) refused: ";
    const struct {
        const char* name;
        const char* value;
        std::function<void()> seed;
        std::string result;
        std::vector<std::string> log;
    } rows[] = {
        {"no policy key", trigger, keyboard, "keyboard configuration", {}},
        {"neither",
         trigger,
         [] {},
         " default",
         {"V:query value (HingeflowTriggerDevice) failed: 2"}},
        {"policy key without the value",
         trigger,
         both(keyboard, [] { sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, kPolicyKeyPath); }),
         "keyboard configuration",
         {}},
        {"policy",
         trigger,
         both(keyboard, policy(trigger, REG_SZ, Text("Mouse"))),
         "Mouse policy",
         {}},
        {"empty policy text",
         trigger,
         both(keyboard, policy(trigger, REG_SZ, Text(""))),
         " policy",
         {}},
        {"policy expandable",
         trigger,
         both(keyboard, policy(trigger, REG_EXPAND_SZ, Text("m"))),
         "keyboard configuration",
         {refused + "it is REG_EXPAND_SZ, not REG_SZ"}},
        {"policy too long",
         trigger,
         policy(trigger, REG_SZ, Bytes(2048, 'm')),
         " default",
         {refused + "it is longer than 2047 characters (error 234)",
          "V:query value (HingeflowTriggerDevice) failed: 2"}},
        {"number by policy",
         number,
         both(Store(number, REG_DWORD, {1, 0, 0, 0}), policy(number, REG_DWORD, {3, 0, 0, 0})),
         "3 policy",
         {}},
        {"policy number in 8 bytes",
         number,
         both(Store(number, REG_DWORD, {1, 0, 0, 0}), policy(number, REG_DWORD, Bytes(8, 1))),
         "1 configuration",
         {"E:policy value (BuiltInHIDKeyboardNumber) refused: it is stored in more than 4 bytes "
          "(error 234)"}},
        {"mode absent from both", mode, [] {}, "0 default", {}},
        {"mode as text by policy",
         mode,
         policy(mode, REG_SZ, Text("1")),
         "0 default",
         {"E:policy value (HingeflowExternalDevicesOnly) refused: it is REG_SZ, not REG_DWORD"}},
    };
    const char* const sources[] = {"policy", "configuration", "default"};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const bool text = row.value == trigger;
        sim::Reset();
        LogCapture log;
        row.seed();
        if (text) {
            const SettingText quiet = ExplainSettingString(row.value);
            EXPECT_EQ(ReadSettingStringQuiet(row.value), quiet.text);
            EXPECT_EQ(log.Entries(), std::vector<std::string>{});
        }
        sim::ClearJournal();
        const std::string read = text ? ReadSettingString(row.value)
                                 : row.value == mode
                                     ? std::to_string(ReadSettingDwordUnlessAbsent(row.value))
                                     : std::to_string(ReadSettingDword(row.value));
        const SettingOrigin origin =
            text ? ExplainSettingString(row.value).origin : ExplainSettingDword(row.value).origin;
        EXPECT_EQ(read + " " + sources[static_cast<int>(origin.source)], row.result);
        EXPECT_EQ(log.Entries(), row.log);
        const auto opens = sim::CallsTo("RegOpenKeyExA");
        EXPECT_EQ(origin.source != SettingSource::Policy,
                  std::any_of(opens.begin(), opens.end(),
                              [](const std::string& open) { return open.rfind("HKCC", 0) == 0; }))
            << "the configuration is read exactly when policy does not decide";
        EXPECT_EQ(sim::OpenHandleCount(), 0);
    }
}

TEST_F(ConfigValues, EveryCallSeesTheValueAsItIsNow) {
    sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 1);
    EXPECT_EQ(ReadConfigDword(kConfigKeyPath, kBuiltInKeyboardNumberValue), 1u);
    sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 3);
    EXPECT_EQ(ReadConfigDword(kConfigKeyPath, kBuiltInKeyboardNumberValue), 3u);
}

} // namespace
