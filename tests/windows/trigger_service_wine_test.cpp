// The trigger service's device and power hooks, called directly, switching the real
// ConvertibleSlateMode from what Wine's virtual HID devices show, through the decider's real
// thread and waits.
#include "trigger/hingeflow_service.h"

#include "config/config_values.h"
#include "trigger/input_census.h"
#include "trigger/slate_mode.h"
#include "tests/windows/log_file.h"
#include "tests/windows_conformance/platform_seed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

class TriggerServiceOnWine : public ::testing::Test {
protected:
    void SetUp() override {
        if (!seed::CanChooseInputDevices()) {
            GTEST_SKIP() << "needs Wine's virtual HID devices";
        }
        SetConfigText(kTriggerDeviceValue, "mouse");
        SetConfigDword(kBuiltInKeyboardNumberValue, 0);
        ASSERT_TRUE(service_.StartDecider());
    }
    void TearDown() override {
        RemoveConfigValue(kTriggerDeviceValue);
        RemoveConfigValue(kBuiltInKeyboardNumberValue);
        if (!IsSkipped()) {
            seed::InputDevices(L"Wine HID device", L"Wine HID device");
        }
        StoreSlateMode(0);
    }

    static void StoreSlateMode(DWORD value) {
        seed::RegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, REG_DWORD,
                            DwordBytes(value));
    }
    static DWORD SlateMode() {
        DWORD value = 0xdeadbeef;
        DWORD size = sizeof value;
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, 0, KEY_QUERY_VALUE, &key),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegQueryValueExA(key, kSlateModeValue, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        return value;
    }
    // Hands an event to a hook and waits until it is decided.
    void Device(DWORD type) {
        service_.OnDeviceEvent(type, nullptr);
        EXPECT_TRUE(service_.WaitUntilDecided(kDecisionTimeoutMs));
    }
    void Power(DWORD type) {
        service_.onPowerEvent(type, nullptr);
        EXPECT_TRUE(service_.WaitUntilDecided(kDecisionTimeoutMs));
    }
    static constexpr DWORD kDecisionTimeoutMs = 10000;

    static void MouseAttached(bool attached) {
        seed::InputDevices(attached ? L"HID-compliant mouse" : L"Wine HID device",
                           L"Wine HID device");
    }

    HingeflowService service_;
    LogFile log_;
};

TEST_F(TriggerServiceOnWine, ArrivalWithAMouseForcesLaptopModeThroughTheTemporaryValue) {
    MouseAttached(true);
    StoreSlateMode(1);
    Device(DBT_DEVICEARRIVAL);
    EXPECT_EQ(SlateMode(), 1u);
    EXPECT_EQ(log_.Entries(),
              (Entries{"V:DBT_DEVICEARRIVAL", "V:event type: 32768",
                       "V:SetTabletMode, temperal value: 10", "V:exit tablet mode: 1"}));
}

TEST_F(TriggerServiceOnWine, ArrivalWithoutExternalInputChangesNothing) {
    MouseAttached(false);
    Device(DBT_DEVICEARRIVAL);
    EXPECT_EQ(SlateMode(), 0u);
    EXPECT_EQ(log_.Entries(), (Entries{"V:DBT_DEVICEARRIVAL", "V:event type: 32768"}));
}

TEST_F(TriggerServiceOnWine, RemovalEntersTabletModeOnlyWhenNoInputIsLeft) {
    StoreSlateMode(1);
    MouseAttached(true);
    Device(DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(SlateMode(), 1u);
    MouseAttached(false);
    Device(DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(SlateMode(), 0u);
    EXPECT_EQ(log_.Entries(), (Entries{"V:DBT_DEVICEREMOVECOMPLETE", "V:event type: 32772",
                                       "V:DBT_DEVICEREMOVECOMPLETE", "V:event type: 32772",
                                       "V:enter tablet mode: 1"}));
}

TEST_F(TriggerServiceOnWine, AutomaticResumeWithAMouseExitsTabletMode) {
    MouseAttached(true);
    Power(PBT_APMRESUMEAUTOMATIC);
    EXPECT_EQ(SlateMode(), 1u);
    Power(PBT_APMSUSPEND);
    StoreSlateMode(0);
    Power(PBT_APMRESUMESUSPEND);
    EXPECT_EQ(SlateMode(), 0u);
    EXPECT_EQ(log_.Entries(), (Entries{"V:onPowerEvent: 18", "V:resume and exit tablet mode: 1",
                                       "V:onPowerEvent: 4", "V:onPowerEvent: 7"}));
}

TEST_F(TriggerServiceOnWine, OtherDeviceEventsAreOnlyLogged) {
    MouseAttached(true);
    Device(DBT_DEVNODES_CHANGED);
    Device(DBT_DEVICEQUERYREMOVE);
    Device(0x18);
    EXPECT_EQ(SlateMode(), 0u);
    EXPECT_EQ(log_.Entries(),
              (Entries{"V:DBT_DEVNODES_CHANGED", "V:SERVICE_CONTROL_DEVICEEVENT unhandled: 8001",
                       "V:SERVICE_CONTROL_DEVICEEVENT unhandled: 0018"}));
}

// Outside the SCM there is no status handle; Wine registers a null recipient all the same
// (Windows refuses it), which lets the filter record itself be checked against user32.
TEST_F(TriggerServiceOnWine, UsbNotificationIsHeldFromStartUntilStop) {
    if (!seed::OnWine()) {
        GTEST_SKIP() << "needs Wine, which registers a null recipient; Windows refuses one";
    }
    service_.onStart(0, nullptr);
    EXPECT_NE(service_.DeviceNotify(), nullptr);
    EXPECT_TRUE(service_.WaitUntilDecided(kDecisionTimeoutMs));
    service_.OnShutdown();
    EXPECT_NE(service_.DeviceNotify(), nullptr);
    service_.OnStop();
    EXPECT_EQ(service_.DeviceNotify(), nullptr);
    service_.OnStop();
    // Wine leaves AoAc unwritten, which reads as no Modern Standby; its mouse is not counted.
    EXPECT_EQ(
        log_.Entries(),
        (Entries{"V:HingeflowService onStart", "V:display state not watched: no Modern Standby",
                 "V:start decision: enter tablet mode: 1", "V:HingeflowService OnShutdown",
                 "V:HingeflowService OnStop", "V:HingeflowService OnStop"}));
}

} // namespace
