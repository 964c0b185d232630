// Events and waits as the decider uses them, the tick count its quiet time is measured with, and
// the calls behind the display-state re-check and the device filter's size.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/device_interface_classes.h"
#include "platform/device_notification.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/synchronization.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;

// Each row: the event's reset mode and first state, then set and reset or not, then three waits
// of 0 ms. A wait on several takes the lowest index signalled, a wait for all none until all are.
TEST(SynchronizationConformance, EventsAndWaitsFollowTheirResetMode) {
    seed::ResetPlatform();
    const DWORD kSet = WAIT_OBJECT_0;
    const struct {
        BOOL manual, initial, set, reset;
        std::vector<DWORD> waits;
    } cases[] = {
        {FALSE, FALSE, TRUE, FALSE, {kSet, WAIT_TIMEOUT, WAIT_TIMEOUT}},
        {FALSE, TRUE, FALSE, FALSE, {kSet, WAIT_TIMEOUT, WAIT_TIMEOUT}},
        {TRUE, FALSE, TRUE, FALSE, {kSet, kSet, kSet}},
        {TRUE, TRUE, TRUE, TRUE, {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.manual << c.initial << c.set << c.reset);
        const HANDLE event = CreateEventW(nullptr, c.manual, c.initial, nullptr);
        ASSERT_NE(event, nullptr);
        EXPECT_TRUE(!c.set || SetEvent(event));
        EXPECT_TRUE(!c.reset || ResetEvent(event));
        std::vector<DWORD> waits;
        for (std::size_t i = 0; i < c.waits.size(); ++i) {
            waits.push_back(WaitForSingleObject(event, 0));
        }
        EXPECT_EQ(waits, c.waits);
        EXPECT_TRUE(CloseHandle(event));
    }

    HANDLE events[3];
    for (HANDLE& event : events) {
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    EXPECT_TRUE(SetEvent(events[2]) && SetEvent(events[1]));
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_TRUE(SetEvent(events[0]));
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0) << "a failed wait-all takes none";
    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 50), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount64() - before, 34u) << "Windows' tick count moves in 10 to 16 ms steps";
    for (HANDLE event : events) {
        EXPECT_TRUE(CloseHandle(event));
    }

    const HANDLE none = nullptr;
    for (const DWORD count : {1u, 0u}) {
        SetLastError(kUntouched);
        EXPECT_EQ(WaitForMultipleObjects(count, &none, FALSE, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), count == 0 ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                             : static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

// A device-interface record declares 32 bytes; one that declares fewer is no such record.
TEST(SynchronizationConformance, ADeviceInterfaceFilterShorterThanItsRecordIsRefused) {
    seed::ResetPlatform();
    alignas(DEV_BROADCAST_DEVICEINTERFACE_W) BYTE bytes[1024] = {};
    auto* filter = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes);
    filter->dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) - 1;
    filter->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter->dbcc_classguid = interface_class::kUsbDevice;
    SetLastError(kUntouched);
    const HDEVNOTIFY handle =
        RegisterDeviceNotificationW(nullptr, bytes, DEVICE_NOTIFY_SERVICE_HANDLE);
    const DWORD error = GetLastError();
    if (handle != nullptr) {
        EXPECT_TRUE(UnregisterDeviceNotification(handle));
    }
    SKIP_WHERE_WINE_DIFFERS(handle != nullptr, "it registers a 31-byte device-interface filter");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
}

// The capabilities fill their record alone, one byte short is too small; outside a service there
// is no status handle to send the display state to.
TEST(PowerConformance, CapabilitiesFillTheirRecordAndTheDisplayStateNeedsAService) {
    seed::ResetPlatform();
    alignas(SYSTEM_POWER_CAPABILITIES) BYTE buffer[sizeof(SYSTEM_POWER_CAPABILITIES) + 8];
    std::memset(buffer, 0xcc, sizeof buffer);
    constexpr ULONG kSize = sizeof(SYSTEM_POWER_CAPABILITIES);
    EXPECT_NE(CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, buffer, kSize - 1), 0);
    EXPECT_EQ(CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, buffer, kSize), 0);
    EXPECT_EQ(buffer[kSize], 0xcc);
    const HPOWERNOTIFY handle = RegisterPowerSettingNotification(
        nullptr, &power_setting::kConsoleDisplayState, DEVICE_NOTIFY_SERVICE_HANDLE);
    if (handle != nullptr) {
        EXPECT_TRUE(UnregisterPowerSettingNotification(handle));
    }
    const BYTE aoac = buffer[power_setting::kAoAcOffset];
    SKIP_WHERE_WINE_DIFFERS(aoac == 0xcc && handle != nullptr,
                            "it leaves AoAc, a spare byte in its headers, unwritten, and "
                            "RegisterPowerSettingNotification is a stub");
    EXPECT_TRUE(aoac == 0 || aoac == 1) << "a BOOLEAN, got " << static_cast<int>(aoac);
    EXPECT_EQ(handle, nullptr);
}

} // namespace
