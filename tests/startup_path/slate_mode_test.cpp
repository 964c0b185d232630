// The slate-mode switch over every stored state it can meet, seen through the journal.
#include "platform/sim/registry_control.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <functional>
#include <optional>

namespace {

constexpr const char* kOpenArgs =
    "HKLM\\System\\CurrentControlSet\\Control\\PriorityControl sam=0x3";

sim::RegistryValue Dword(DWORD value) {
    return {REG_DWORD,
            {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
             static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)}};
}

std::string Render(const std::optional<sim::RegistryValue>& value) {
    if (!value) {
        return "absent";
    }
    std::string text = "type " + std::to_string(value->type) + ":";
    for (BYTE byte : value->data) {
        text += " " + std::to_string(byte);
    }
    return text;
}

std::string Stored() {
    return Render(sim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue));
}

struct Row {
    const char* name;
    std::optional<sim::RegistryValue> stored;
    std::function<bool()> call;
    bool result;
    std::vector<DWORD> writes;
    std::vector<std::string> log;
};

const std::function<bool()> kInit = [] { return InitializeConvertibleSlateMode(); };
std::function<bool()> Set(DWORD mode, bool force) {
    return [=] { return SetTabletMode(mode, force); };
}

const std::string kTemporary = "V:SetTabletMode, temperal value: 10";
const std::string kWrongType = "E:incorrect value type";
const std::string kAbsent = "E:query ConvertibleSlateMode failed: 2";
const std::string kTooLong = "E:query ConvertibleSlateMode failed: 234";
const std::string kInitFalse = "V:InitializeConvertibleSlateMode: 0";
const std::string kInitTrue = "V:InitializeConvertibleSlateMode: 1";

class SlateMode : public SimTest {};

TEST_F(SlateMode, WritesTheModeOverAnExistingDwordOnlyAndPassesThroughTenWhenForced) {
    const sim::RegistryValue text{REG_SZ, {'1', 0}};
    const sim::RegistryValue qword{11, {1, 0, 0, 0, 0, 0, 0, 0}};
    const Row rows[] = {
        {"mode 2", Dword(1), Set(2, true), false, {}, {}},
        {"absent, set", std::nullopt, Set(1, true), false, {}, {kAbsent}},
        {"absent, init", std::nullopt, kInit, false, {}, {kAbsent, kInitFalse}},
        {"text, set", text, Set(1, true), false, {}, {kWrongType}},
        {"text, init", text, kInit, false, {}, {kWrongType, kInitFalse}},
        {"eight bytes, set", qword, Set(0, false), false, {}, {kTooLong}},
        {"eight bytes, init", qword, kInit, false, {}, {kTooLong, kInitFalse}},
        {"1, forced 1", Dword(1), Set(1, true), true, {10, 1}, {kTemporary}},
        {"1, unforced 1", Dword(1), Set(1, false), true, {1}, {}},
        {"0, forced 1", Dword(0), Set(1, true), true, {1}, {}},
        {"10, forced 1", Dword(10), Set(1, true), true, {1}, {}},
        {"0, 0", Dword(0), Set(0, false), true, {0}, {}},
        {"0, forced 0", Dword(0), Set(0, true), true, {0}, {}},
        {"1, forced 0", Dword(1), Set(0, true), true, {0}, {}},
        {"1 in two bytes, forced 1",
         sim::RegistryValue{REG_DWORD, {1, 0}},
         Set(1, true),
         true,
         {10, 1},
         {kTemporary}},
        {"0, init", Dword(0), kInit, true, {1}, {kInitTrue}},
        {"1, init", Dword(1), kInit, true, {1}, {kInitTrue}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset();
        sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, kSlateModeKeyPath);
        if (row.stored) {
            sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue,
                                  row.stored->type, row.stored->data);
        }
        LogCapture log;
        sim::ClearJournal();
        EXPECT_EQ(row.call(), row.result);
        EXPECT_EQ(sim::DwordWritesTo(kSlateModeValue), row.writes);
        EXPECT_EQ(sim::CountCalls("RegSetValueExA"), static_cast<int>(row.writes.size()));
        EXPECT_EQ(log.Entries(), row.log);
        const bool rejected = !row.result && row.log.empty();
        EXPECT_EQ(sim::CallsTo("RegOpenKeyExA"),
                  rejected ? std::vector<std::string>{} : std::vector<std::string>{kOpenArgs});
        if (row.writes.empty()) {
            EXPECT_EQ(Stored(), Render(row.stored)) << "expected it untouched, and never created";
        } else {
            EXPECT_EQ(Stored(), Render(Dword(row.writes.back())));
        }
        EXPECT_EQ(sim::OpenHandleCount(), 0);
    }
}

TEST_F(SlateMode, KeyThatCannotBeOpenedForSettingIsNeitherReadNorCreated) {
    for (bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing key" : "no right to set values");
        sim::Reset();
        if (!missing) {
            sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, REG_DWORD,
                                  Dword(0).data);
            sim::SetKeyAccess(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, KEY_READ);
        }
        LogCapture log;
        sim::ClearJournal();
        EXPECT_FALSE(SetTabletMode(0, false));
        EXPECT_FALSE(InitializeConvertibleSlateMode());
        const std::string failed = missing ? "E:open key failed: 2" : "E:open key failed: 5";
        EXPECT_EQ(log.Entries(), (std::vector<std::string>{failed, failed, kInitFalse}));
        EXPECT_EQ(sim::CallsTo("RegOpenKeyExA"), (std::vector<std::string>{kOpenArgs, kOpenArgs}));
        EXPECT_EQ(sim::CountCalls("RegQueryValueExA") + sim::CountCalls("RegSetValueExA"), 0);
        EXPECT_EQ(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kSlateModeKeyPath), !missing);
    }
}

} // namespace
