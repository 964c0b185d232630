// The configuration readers over every shape a stored value can take.
#include "config/config_values.h"
#include "platform/sim/registry_control.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"

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

TEST_F(ConfigValues, EveryCallSeesTheValueAsItIsNow) {
    sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 1);
    EXPECT_EQ(ReadConfigDword(kConfigKeyPath, kBuiltInKeyboardNumberValue), 1u);
    sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 3);
    EXPECT_EQ(ReadConfigDword(kConfigKeyPath, kBuiltInKeyboardNumberValue), 3u);
}

} // namespace
