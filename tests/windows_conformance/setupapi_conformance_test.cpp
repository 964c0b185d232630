// How SetupAPI answers the census's calls, step by step, with one HID mouse and one HID
// keyboard present.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/device_interface_classes.h"
#include "platform/device_properties.h"
#include "platform/process.h"
#include "platform/setup_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kUntouched = 0xdeadbeef;

union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_W head;
    BYTE bytes[1028];
};

class SetupApiConformance : public ::testing::Test {
protected:
    void SetUp() override {
        seed::ResetPlatform();
        if (!seed::CanChooseInputDevices()) {
            GTEST_SKIP() << "needs Wine's virtual HID devices";
        }
        seed::InputDevices(L"HID-compliant mouse", L"HID Keyboard Device");
    }
    void TearDown() override {
        if (set_ != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set_));
        }
        if (seed::OnWine() && !IsSkipped()) {
            seed::InputDevices(L"Wine HID device", L"Wine HID device");
        }
    }

    // Builds the set and enumerates its first interface, as the census does.
    void OpenFirstInterface(const GUID& interfaceClass) {
        set_ = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, kPresentInterfaces);
        ASSERT_NE(set_, INVALID_HANDLE_VALUE);
        interface_.cbSize = sizeof interface_;
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set_, nullptr, &interfaceClass, 0, &interface_));
    }

    DWORD RequiredDetailSize() {
        DWORD size = 0;
        SetLastError(kUntouched);
        EXPECT_FALSE(
            SetupDiGetDeviceInterfaceDetailW(set_, &interface_, nullptr, 0, &size, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        return size;
    }

    // Fetches the detail into `detail_` and names the owning device in `device_`.
    void FetchDetail() {
        const DWORD size = RequiredDetailSize();
        ASSERT_GT(size, 0u);
        ASSERT_LE(size, sizeof detail_);
        detail_.head.cbSize = sizeof detail_.head;
        device_.cbSize = sizeof device_;
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set_, &interface_, &detail_.head, size,
                                                     nullptr, &device_));
    }

    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA interface_{};
    SP_DEVINFO_DATA device_{};
    DetailBuffer detail_{};
};

TEST_F(SetupApiConformance, EachInputClassHoldsOneInterfaceThenNoMoreItems) {
    for (const GUID* interfaceClass : {&interface_class::kMouse, &interface_class::kKeyboard}) {
        HDEVINFO set = SetupDiGetClassDevsW(interfaceClass, nullptr, nullptr, kPresentInterfaces);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, 0, &data));
        EXPECT_TRUE(IsEqualGUID(data.InterfaceClassGuid, *interfaceClass));
        SetLastError(kUntouched);
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, 1, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    }
}

TEST_F(SetupApiConformance, ClassWithoutPresentInterfacesEndsAtOnce) {
    set_ = SetupDiGetClassDevsW(&interface_class::kUsbDevice, nullptr, nullptr, kPresentInterfaces);
    ASSERT_NE(set_, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    SetLastError(kUntouched);
    EXPECT_FALSE(
        SetupDiEnumDeviceInterfaces(set_, nullptr, &interface_class::kUsbDevice, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(SetupApiConformance, InterfaceRecordOfWrongSizeIsRefused) {
    set_ = SetupDiGetClassDevsW(&interface_class::kMouse, nullptr, nullptr, kPresentInterfaces);
    ASSERT_NE(set_, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = 0;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set_, nullptr, &interface_class::kMouse, 0, &data));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(SetupApiConformance, EnumeratingAnInvalidSetIsInvalidHandle) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(INVALID_HANDLE_VALUE, nullptr,
                                             &interface_class::kMouse, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SetupApiConformance, DetailSizeRequestFailsWithTheSizeOfHeadAndPath) {
    OpenFirstInterface(interface_class::kMouse);
    const DWORD size = RequiredDetailSize();
    EXPECT_GT(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    EXPECT_LE(size, sizeof(DetailBuffer));
}

TEST_F(SetupApiConformance, DetailFetchGivesTerminatedPathAndOwningDevice) {
    OpenFirstInterface(interface_class::kMouse);
    FetchDetail();
    const std::size_t units =
        (sizeof detail_ - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
    const WCHAR* path = detail_.head.DevicePath;
    std::size_t length = 0;
    while (length < units && path[length] != 0) {
        ++length;
    }
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, units) << "the device path carries no terminator";
}

TEST_F(SetupApiConformance, DetailRefusesWrongHeadSizeAndTooSmallBuffer) {
    OpenFirstInterface(interface_class::kMouse);
    const DWORD size = RequiredDetailSize();
    device_.cbSize = sizeof device_;

    detail_.head.cbSize = 0;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set_, &interface_, &detail_.head, size, nullptr,
                                                  &device_));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

    detail_.head.cbSize = sizeof detail_.head;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set_, &interface_, &detail_.head, size - 1,
                                                  nullptr, &device_));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(SetupApiConformance, DetailChecksDeviceRecordSizeExceptUnderWine) {
    OpenFirstInterface(interface_class::kMouse);
    const DWORD size = RequiredDetailSize();
    detail_.head.cbSize = sizeof detail_.head;
    device_.cbSize = 0;
    const BOOL filled =
        SetupDiGetDeviceInterfaceDetailW(set_, &interface_, &detail_.head, size, nullptr, &device_);
    SKIP_WHERE_WINE_DIFFERS(filled != FALSE, "it fills a device record whatever its size says");
    EXPECT_FALSE(filled);
}

TEST_F(SetupApiConformance, DescriptionIsTerminatedTextWithItsByteSize) {
    for (const GUID* interfaceClass : {&interface_class::kMouse, &interface_class::kKeyboard}) {
        const std::wstring expected = interfaceClass == &interface_class::kMouse
                                          ? L"HID-compliant mouse"
                                          : L"HID Keyboard Device";
        SCOPED_TRACE(testing::PrintToString(expected));
        OpenFirstInterface(*interfaceClass);
        FetchDetail();
        WCHAR text[1024];
        std::fill(std::begin(text), std::end(text), WCHAR{0x2a});
        DWORD type = kUntouched;
        DWORD size = kUntouched;
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set_, &device_, SPDRP_DEVICEDESC, &type,
                                                      reinterpret_cast<PBYTE>(text), sizeof text,
                                                      &size));
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, (expected.size() + 1) * sizeof(WCHAR));
        EXPECT_EQ(std::wstring(text), expected);
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set_));
        set_ = INVALID_HANDLE_VALUE;
    }
}

TEST_F(SetupApiConformance, DescriptionIsReturnedExactlyAsStored) {
    for (const std::wstring description :
         {L"hid-compliant mouse", L"HID-compliant mouse ", L"Wine HID device", L""}) {
        SCOPED_TRACE(testing::PrintToString(description));
        seed::InputDevices(description, L"HID Keyboard Device");
        OpenFirstInterface(interface_class::kMouse);
        FetchDetail();
        WCHAR text[1024] = {};
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set_, &device_, SPDRP_DEVICEDESC, nullptr,
                                                      reinterpret_cast<PBYTE>(text), sizeof text,
                                                      nullptr));
        EXPECT_EQ(std::wstring(text), description);
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set_));
        set_ = INVALID_HANDLE_VALUE;
    }
}

TEST_F(SetupApiConformance, DescriptionIntoSmallBufferIsInsufficientWithRequiredSize) {
    OpenFirstInterface(interface_class::kMouse);
    FetchDetail();
    BYTE small[4];
    DWORD size = kUntouched;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set_, &device_, SPDRP_DEVICEDESC, nullptr, small,
                                                   sizeof small, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 20 * sizeof(WCHAR));
}

// What the census reads when a description is in another language: the driver properties.
TEST_F(SetupApiConformance, DevicePropertyIsMissingTooBigOfItsTypeOrReturnedWhole) {
    OpenFirstInterface(interface_class::kKeyboard);
    FetchDetail();
    const DEVPROPKEY& key = device_property::kMatchingDeviceId;
    const std::wstring id = L"hid_device_system_keyboard";
    WCHAR text[1024];
    DEVPROPTYPE type = kUntouched;
    DWORD size = kUntouched;
    const auto query = [&](DWORD bytes, DWORD flags = 0) {
        std::fill(std::begin(text), std::end(text), WCHAR{0x2a});
        type = kUntouched;
        size = kUntouched;
        SetLastError(kUntouched);
        return SetupDiGetDevicePropertyW(set_, &device_, &key, &type, reinterpret_cast<PBYTE>(text),
                                         bytes, &size, flags);
    };

    EXPECT_FALSE(query(sizeof text));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    EXPECT_EQ(type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_EMPTY));
    EXPECT_EQ(size, 0u);

    seed::InstalledDriver(seed::InputDevice::Keyboard, id, L"keyboard.inf");
    const DWORD whole = static_cast<DWORD>((id.size() + 1) * sizeof(WCHAR));
    EXPECT_FALSE(query(whole - sizeof(WCHAR)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_STRING));
    EXPECT_EQ(size, whole);
    EXPECT_FALSE(query(sizeof text, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    ASSERT_TRUE(query(sizeof text));
    EXPECT_EQ(type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_STRING));
    EXPECT_EQ(size, whole);
    EXPECT_EQ(std::wstring(text), id);

    seed::DeviceProperty(seed::InputDevice::Keyboard, key, DEVPROP_TYPE_UINT32, DwordBytes(1));
    ASSERT_TRUE(query(sizeof text));
    EXPECT_EQ(type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_UINT32));
    EXPECT_EQ(size, 4u);
}

// Where the census looks when only external devices count: two properties of fixed type and size.
TEST_F(SetupApiConformance, ContainerPropertiesAreMissingOrReturnedWithTheirTypeAndSize) {
    OpenFirstInterface(interface_class::kKeyboard);
    FetchDetail();
    constexpr GUID kOwn = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const auto* own = reinterpret_cast<const BYTE*>(&kOwn);
    const struct {
        const char* name;
        const DEVPROPKEY& key;
        DEVPROPTYPE type;
        std::vector<BYTE> data;
    } properties[] = {
        {"InLocalMachineContainer",
         device_property::kInLocalMachineContainer,
         DEVPROP_TYPE_BOOLEAN,
         {static_cast<BYTE>(DEVPROP_TRUE)}},
        {"ContainerId", device_property::kContainerId, DEVPROP_TYPE_GUID,
         std::vector<BYTE>(own, own + sizeof kOwn)},
    };
    BYTE buffer[32];
    DEVPROPTYPE type = kUntouched;
    DWORD size = kUntouched;
    const auto query = [&](const DEVPROPKEY& key, BYTE* into, DWORD bytes) {
        std::fill(std::begin(buffer), std::end(buffer), BYTE{0xcc});
        type = kUntouched;
        size = kUntouched;
        SetLastError(kUntouched);
        return SetupDiGetDevicePropertyW(set_, &device_, &key, &type, into, bytes, &size, 0);
    };
    for (const auto& p : properties) {
        SCOPED_TRACE(p.name);
        const DWORD whole = static_cast<DWORD>(p.data.size());
        EXPECT_FALSE(query(p.key, buffer, sizeof buffer));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
        EXPECT_EQ(type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_EMPTY));

        seed::DeviceProperty(seed::InputDevice::Keyboard, p.key, p.type, p.data);
        EXPECT_FALSE(query(p.key, nullptr, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(type, p.type);
        EXPECT_EQ(size, whole);
        EXPECT_FALSE(query(p.key, buffer, whole - 1));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(buffer[0], 0xcc) << "a refused read wrote into the buffer";
        ASSERT_TRUE(query(p.key, buffer, whole));
        EXPECT_EQ(type, p.type);
        EXPECT_EQ(size, whole);
        EXPECT_EQ(std::vector<BYTE>(buffer, buffer + whole), p.data);
        seed::DeviceProperty(seed::InputDevice::Keyboard, p.key, DEVPROP_TYPE_EMPTY, {});
    }
}

TEST_F(SetupApiConformance, DescriptionNeedsADeviceRecordOfTheRightSize) {
    OpenFirstInterface(interface_class::kMouse);
    FetchDetail();
    device_.cbSize = 0;
    WCHAR text[1024];
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set_, &device_, SPDRP_DEVICEDESC, nullptr,
                                                   reinterpret_cast<PBYTE>(text), sizeof text,
                                                   nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace
