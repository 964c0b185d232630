// Win32 registry semantics of the simulator beyond the shared conformance cases, in Wine's
// manner: outputs seeded with sentinels, so that what a call leaves behind is seen.
#include "platform/registry.h"
#include "platform/sim/registry_control.h"
#include "tests/support/sim_test.h"

#include <cstring>

namespace {

constexpr const char* kPath = "System\\CurrentControlSet\\Control\\PriorityControl";
const HKEY kSentinelKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xdeadbeef));
const DWORD kTen = 10;
const BYTE* const kTenBytes = reinterpret_cast<const BYTE*>(&kTen);

class RegistrySim : public SimTest {};

TEST_F(RegistrySim, ShortBufferStaysUntouchedAndTextGetsNoTerminator) {
    sim::SetRegistryValue(HKEY_CURRENT_CONFIG, "Software", "Text", REG_SZ,
                          {'m', 'o', 'u', 's', 'e'});
    HKEY key = kSentinelKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, "software", 0, KEY_READ, &key), 0);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::RegistryKey), 1);
    BYTE buffer[8];
    std::memset(buffer, 0xcc, sizeof buffer);
    DWORD type = 0xdeadbeef, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(buffer[0], 0xcc) << "expected the buffer untouched, got " << int(buffer[0]);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, &size), 0);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(buffer[5], 0xcc) << "expected no terminator added, got " << int(buffer[5]);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Text", &reserved, &type, nullptr, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistrySim, RightsAreCheckedWhenOpeningAndOnEachCall) {
    sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kPath, "ConvertibleSlateMode", 1);
    sim::SetKeyAccess(HKEY_LOCAL_MACHINE, kPath, KEY_READ);
    HKEY key = kSentinelKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, 3, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr) << "expected a failed open to clear the handle";
    sim::SetKeyAccess(HKEY_LOCAL_MACHINE, kPath, KEY_ALL_ACCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, KEY_SET_VALUE, &key), 0);
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "ConvertibleSlateMode", nullptr, &type, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(key, "convertibleslatemode", 0, REG_DWORD, kTenBytes, 4), 0);
    EXPECT_EQ(sim::GetRegistryDword(HKEY_LOCAL_MACHINE, kPath, "ConvertibleSlateMode"), 10u);
    RegCloseKey(key);
}

TEST_F(RegistrySim, MissingKeysAndDeadHandlesFailAsOnWindows) {
    HKEY key = kSentinelKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kPath)) << "an open never creates";
    // A predefined key with no subkey comes back as itself and needs no close.
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, "", 0, KEY_READ, &key), 0);
    EXPECT_EQ(key, HKEY_CURRENT_CONFIG);
    EXPECT_EQ(sim::OpenHandleCount(), 0);

    sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, kPath);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, KEY_READ, &key), 0);
    sim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &size), 1018L); // KEY_DELETED
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a closed handle stays invalid";
    EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(nullptr, "x", 0, REG_DWORD, kTenBytes, 4), ERROR_INVALID_HANDLE);
}

// Tests that need the configuration key missing delete it; the next test must find it again.
TEST_F(RegistrySim, ResetBringsBackTheEmptyConfigurationKey) {
    sim::SetRegistryDword(HKEY_CURRENT_CONFIG, "System\\CurrentControlSet", "Stale", 1);
    sim::DeleteRegistryKey(HKEY_CURRENT_CONFIG, "System\\CurrentControlSet");
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CURRENT_CONFIG, "System\\CurrentControlSet"));
    sim::Reset();
    HKEY key = kSentinelKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, "System\\CurrentControlSet", 0, KEY_READ, &key),
              0);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Stale", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet"))
        << "only the configuration hive has it from the start";
}

TEST_F(RegistrySim, JournalShowsEachCallAndFaultsStrikeBeforeAnyEffect) {
    sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kPath, "ConvertibleSlateMode", 1);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, 3, &key), 0);
    RegSetValueExA(key, "ConvertibleSlateMode", 0, REG_DWORD, kTenBytes, 4);
    EXPECT_EQ(sim::CallsTo("RegOpenKeyExA"),
              std::vector<std::string>{
                  "HKLM\\System\\CurrentControlSet\\Control\\PriorityControl sam=0x3"});
    EXPECT_EQ(sim::CallsTo("RegSetValueExA"),
              std::vector<std::string>{"ConvertibleSlateMode type=4 data=10"});
    EXPECT_EQ(sim::DwordWritesTo("convertibleSlateMode"), std::vector<DWORD>{10});

    sim::FailAnyCall(1);
    const DWORD zero = 0;
    EXPECT_EQ(RegSetValueExA(key, "ConvertibleSlateMode", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&zero), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(sim::GetRegistryDword(HKEY_LOCAL_MACHINE, kPath, "ConvertibleSlateMode"), 10u);
    sim::FailAnyCall(1);
    EXPECT_EQ(RegCloseKey(key), 0) << "closing is never failed by a sweep";
    EXPECT_EQ(sim::FaultsFired(), 1);
}

} // namespace
