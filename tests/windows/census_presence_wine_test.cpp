// The census and the presence check on Wine's virtual HID mouse and keyboard.
#include "trigger/input_census.h"
#include "trigger/presence_check.h"

#include "config/config_values.h"
#include "tests/windows/log_file.h"
#include "tests/windows_conformance/platform_seed.h"

// The interface classes as the SDK defines them, independently of the census's own table.
#include <initguid.h>
#include <hidclass.h>
#include <ntddkbd.h>
#include <ntddmou.h>
#include <usbiodef.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;
constexpr const wchar_t* kWindowsMouse = L"HID-compliant mouse";
constexpr const wchar_t* kWindowsKeyboard = L"HID Keyboard Device";
constexpr const wchar_t* kWineDefault = L"Wine HID device";

class CensusOnWine : public ::testing::Test {
protected:
    void SetUp() override {
        if (!seed::CanChooseInputDevices()) {
            GTEST_SKIP() << "needs Wine's virtual HID devices";
        }
    }
    void TearDown() override {
        if (!IsSkipped()) {
            seed::InputDevices(kWineDefault, kWineDefault);
        }
    }
};

TEST_F(CensusOnWine, InterfaceClassesAreTheSdkOnes) {
    EXPECT_TRUE(IsEqualGUID(GetDeviceInterfaceGuid(kKeyboardKind), GUID_DEVINTERFACE_KEYBOARD));
    EXPECT_TRUE(IsEqualGUID(GetDeviceInterfaceGuid(kMouseKind), GUID_DEVINTERFACE_MOUSE));
    EXPECT_TRUE(IsEqualGUID(GetDeviceInterfaceGuid(kHidKind), GUID_DEVINTERFACE_HID));
    EXPECT_TRUE(IsEqualGUID(GetDeviceInterfaceGuid(kUsbHubKind), GUID_DEVINTERFACE_USB_HUB));
    EXPECT_TRUE(IsEqualGUID(GetDeviceInterfaceGuid(kUsbDeviceKind), GUID_DEVINTERFACE_USB_DEVICE));
    EXPECT_TRUE(IsEqualGUID(GetDeviceInterfaceGuid(5), GUID_DEVINTERFACE_KEYBOARD));
    EXPECT_TRUE(IsEqualGUID(GetDeviceInterfaceGuid(-1), GUID_DEVINTERFACE_KEYBOARD));
}

TEST_F(CensusOnWine, CountsDevicesDescribedAsWindowsDescribesThem) {
    seed::InputDevices(kWindowsMouse, kWindowsKeyboard);
    EXPECT_EQ(CountInputDevices(kMouseKind), 1);
    EXPECT_EQ(CountInputDevices(kKeyboardKind), 1);
}

TEST_F(CensusOnWine, AnyOtherDescriptionIsNotCounted) {
    const std::vector<std::pair<std::wstring, std::wstring>> described = {
        {kWineDefault, kWineDefault},
        {L"hid-compliant mouse", L"HID keyboard device"},
        {L"HID-compliant mouse ", L"HID Keyboard Device "},
        {L"HID-compliant", L"HID Keyboard"},
        {kWindowsKeyboard, kWindowsMouse},
    };
    for (const auto& [mouse, keyboard] : described) {
        SCOPED_TRACE(testing::PrintToString(mouse) + " / " + testing::PrintToString(keyboard));
        seed::InputDevices(mouse, keyboard);
        EXPECT_EQ(CountInputDevices(kMouseKind), 0);
        EXPECT_EQ(CountInputDevices(kKeyboardKind), 0);
    }
}

// A German Windows describes its standard devices in German; they count by the driver Windows
// installed. A vendor's keyboard counts in neither language.
TEST_F(CensusOnWine, StandardDevicesCountInAnyLanguageAndVendorOnesInNone) {
    seed::InputDevices(L"HID-konforme Maus", L"HID-Tastatur");
    EXPECT_EQ(CountInputDevices(kMouseKind), 0);
    EXPECT_EQ(CountInputDevices(kKeyboardKind), 0);
    seed::InstalledDriver(seed::InputDevice::Mouse, L"hid_device_system_mouse", L"msmouse.inf");
    seed::InstalledDriver(seed::InputDevice::Keyboard, L"hid_device_system_keyboard",
                          L"keyboard.inf");
    EXPECT_EQ(CountInputDevices(kMouseKind), 1);
    EXPECT_EQ(CountInputDevices(kKeyboardKind), 1);

    for (const wchar_t* vendor : {L"Contoso Keyboard", L"Contoso-Tastatur"}) {
        SCOPED_TRACE(testing::PrintToString(vendor));
        seed::InputDevices(kWindowsMouse, vendor);
        seed::InstalledDriver(seed::InputDevice::Keyboard, L"HID\\VID_1234&PID_5678", L"oem7.inf");
        EXPECT_EQ(CountInputDevices(kKeyboardKind), 0);
    }
}

TEST_F(CensusOnWine, OtherKindsCountNothing) {
    seed::InputDevices(kWindowsMouse, kWindowsKeyboard);
    for (const DeviceKind kind : {kHidKind, kUsbHubKind, kUsbDeviceKind, 5, -1}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(CountInputDevices(kind), 0);
    }
}

class PresenceOnWine : public CensusOnWine {
protected:
    // Both values present, so that only the check's own lines reach the log.
    void SetUp() override {
        CensusOnWine::SetUp();
        SetConfigDword(kBuiltInKeyboardNumberValue, 0);
        SetConfigText(kTriggerDeviceValue, "");
    }
    void TearDown() override {
        RemoveConfigValue(kTriggerDeviceValue);
        RemoveConfigValue(kBuiltInKeyboardNumberValue);
        CensusOnWine::TearDown();
    }

    // The check, and whether it waited for its three retries.
    static bool Check(bool& retried) {
        const auto start = std::chrono::steady_clock::now();
        const bool attached = IsExternalInputAttached();
        retried = std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(85);
        return attached;
    }

    LogFile log_;
};

TEST_F(PresenceOnWine, MouseTriggerAnswersAtOnceWithAMouse) {
    seed::InputDevices(kWindowsMouse, kWineDefault);
    SetConfigText(kTriggerDeviceValue, "MOUSE");
    bool retried = true;
    EXPECT_TRUE(Check(retried));
    EXPECT_FALSE(retried);
    EXPECT_EQ(log_.Entries(), Entries{});
}

TEST_F(PresenceOnWine, MouseTriggerRetriesBeforeAnsweringNo) {
    seed::InputDevices(kWineDefault, kWindowsKeyboard);
    SetConfigText(kTriggerDeviceValue, "mouse");
    bool retried = false;
    EXPECT_FALSE(Check(retried));
    EXPECT_TRUE(retried);
}

TEST_F(PresenceOnWine, KeyboardTriggerCountsBeyondTheBuiltInKeyboards) {
    seed::InputDevices(kWineDefault, kWindowsKeyboard);
    SetConfigText(kTriggerDeviceValue, "Keyboard");
    bool retried = false;
    SetConfigDword(kBuiltInKeyboardNumberValue, 1);
    EXPECT_FALSE(Check(retried));
    EXPECT_TRUE(retried);
    SetConfigDword(kBuiltInKeyboardNumberValue, 0);
    EXPECT_TRUE(Check(retried));
    EXPECT_FALSE(retried);
    EXPECT_EQ(log_.Entries(), Entries{"V:built-in keyboards number: 1"});
}

TEST_F(PresenceOnWine, CombinedTriggerNeedsBothInOneCensus) {
    SetConfigText(kTriggerDeviceValue, "both");
    seed::InputDevices(kWindowsMouse, kWindowsKeyboard);
    bool retried = true;
    EXPECT_TRUE(Check(retried));
    EXPECT_FALSE(retried);
    seed::InputDevices(kWindowsMouse, kWineDefault);
    EXPECT_FALSE(Check(retried));
    EXPECT_TRUE(retried);
    EXPECT_EQ(log_.Entries(), (Entries{"V:mouse number: 1, keyboard number: 1",
                                       "V:mouse number: 1, keyboard number: 0"}));
}

TEST_F(PresenceOnWine, BuiltInNumberWithTheTopBitSetCountsAsNone) {
    seed::InputDevices(kWindowsMouse, kWindowsKeyboard);
    SetConfigDword(kBuiltInKeyboardNumberValue, 0x80000001ul);
    EXPECT_EQ(ReadBuiltInKeyboardNumber(), 0);
    EXPECT_TRUE(IsExternalInputAttached());
    SetConfigDword(kBuiltInKeyboardNumberValue, 2);
    EXPECT_FALSE(IsExternalInputAttached());
    EXPECT_EQ(log_.Entries(),
              (Entries{"V:mouse number: 1, keyboard number: 1", "V:built-in keyboards number: 2",
                       "V:mouse number: 1, keyboard number: 1"}));
}

TEST_F(PresenceOnWine, MissingValuesSelectTheCombinedTriggerWithNoBuiltInKeyboard) {
    seed::InputDevices(kWindowsMouse, kWindowsKeyboard);
    RemoveConfigValue(kTriggerDeviceValue);
    RemoveConfigValue(kBuiltInKeyboardNumberValue);
    EXPECT_TRUE(IsExternalInputAttached());
    EXPECT_EQ(log_.Entries(), (Entries{"V:query value (BuiltInHIDKeyboardNumber) failed: 2",
                                       "V:query value (HingeflowTriggerDevice) failed: 2",
                                       "V:mouse number: 1, keyboard number: 1"}));
}

} // namespace
