// Events and waits as the decider uses them, the tick count its quiet time is measured with, and
// the power calls behind the display-state re-check.
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

// Each row: how the event is made, what is done to it, and what three waits of 0 ms then return.
TEST(SynchronizationConformance, EventsKeepOrLoseTheirSignalAsTheirResetModeSays) {
    seed::ResetPlatform();
    const DWORD kSignalled = WAIT_OBJECT_0;
    const struct {
        const char* what;
        BOOL manualReset;
        BOOL initiallySet;
        bool set;
        bool reset;
        std::vector<DWORD> waits;
    } cases[] = {
        {"auto reset, set: one wait takes it",
         FALSE,
         FALSE,
         true,
         false,
         {kSignalled, WAIT_TIMEOUT, WAIT_TIMEOUT}},
        {"auto reset, made set",
         FALSE,
         TRUE,
         false,
         false,
         {kSignalled, WAIT_TIMEOUT, WAIT_TIMEOUT}},
        {"manual reset, set: every wait sees it",
         TRUE,
         FALSE,
         true,
         false,
         {kSignalled, kSignalled, kSignalled}},
        {"manual reset, set then reset",
         TRUE,
         FALSE,
         true,
         true,
         {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT}},
        {"never set", TRUE, FALSE, false, false, {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const HANDLE event = CreateEventW(nullptr, c.manualReset, c.initiallySet, nullptr);
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
}

TEST(SynchronizationConformance, AWaitOnSeveralTakesTheLowestSignalledOrTimesOut) {
    seed::ResetPlatform();
    HANDLE events[3];
    for (HANDLE& event : events) {
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ASSERT_NE(event, nullptr);
    }
    EXPECT_TRUE(SetEvent(events[2]));
    EXPECT_TRUE(SetEvent(events[1]));
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    // Waiting for all takes none until all are set, then all.
    EXPECT_TRUE(SetEvent(events[0]));
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0) << "a failed wait-all takes none";

    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 50), WAIT_TIMEOUT);
    // Windows' tick count moves in steps of 10 to 16 ms.
    EXPECT_GE(GetTickCount64() - before, 34u);
    for (HANDLE event : events) {
        EXPECT_TRUE(CloseHandle(event));
    }
}

TEST(SynchronizationConformance, WaitsOnNoEventOrNoHandleFail) {
    seed::ResetPlatform();
    const HANDLE none = nullptr;
    const struct {
        const char* what;
        DWORD count;
        const HANDLE* handles;
        DWORD error;
    } cases[] = {
        {"a null handle", 1, &none, ERROR_INVALID_HANDLE},
        {"no handle at all", 0, &none, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(kUntouched);
        EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, FALSE, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), c.error);
    }
    SetLastError(kUntouched);
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
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
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
}

// The capabilities are read into a record of their own size: one byte short is too small.
TEST(PowerConformance, PowerCapabilitiesFillTheirRecordOnly) {
    seed::ResetPlatform();
    alignas(SYSTEM_POWER_CAPABILITIES) BYTE buffer[sizeof(SYSTEM_POWER_CAPABILITIES) + 8];
    std::memset(buffer, 0xcc, sizeof buffer);
    EXPECT_NE(CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, buffer,
                                     sizeof(SYSTEM_POWER_CAPABILITIES) - 1),
              0);
    EXPECT_EQ(CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, buffer,
                                     sizeof(SYSTEM_POWER_CAPABILITIES)),
              0);
    EXPECT_EQ(buffer[sizeof(SYSTEM_POWER_CAPABILITIES)], 0xcc);
    const BYTE aoac = buffer[power_setting::kAoAcOffset];
    SKIP_WHERE_WINE_DIFFERS(aoac == 0xcc, "it leaves AoAc, a spare byte in its headers, unwritten");
    EXPECT_TRUE(aoac == 0 || aoac == 1) << "a BOOLEAN, got " << static_cast<int>(aoac);
}

// Outside a service there is no status handle to notify.
TEST(PowerConformance, DisplayStateNotificationNeedsAServiceExceptUnderWine) {
    seed::ResetPlatform();
    const HPOWERNOTIFY handle = RegisterPowerSettingNotification(
        nullptr, &power_setting::kConsoleDisplayState, DEVICE_NOTIFY_SERVICE_HANDLE);
    if (handle != nullptr) {
        EXPECT_TRUE(UnregisterPowerSettingNotification(handle));
    }
    SKIP_WHERE_WINE_DIFFERS(handle != nullptr, "RegisterPowerSettingNotification is a stub");
    EXPECT_EQ(handle, nullptr);
}

} // namespace
