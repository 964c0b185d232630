#include "trigger/input_census.h"

#include "platform/device_interface_classes.h"
#include "platform/setup_api.h"
#include "platform/unique_handle.h"

#include <cstddef>

namespace {

constexpr WCHAR kMouseDescription[] = L"HID-compliant mouse";
constexpr WCHAR kKeyboardDescription[] = L"HID Keyboard Device";
constexpr std::size_t kDescriptionLength = 19;
static_assert(sizeof kMouseDescription == (kDescriptionLength + 1) * sizeof(WCHAR));
static_assert(sizeof kKeyboardDescription == (kDescriptionLength + 1) * sizeof(WCHAR));

// The device path is never read; the detail is fetched only to learn the owning device.
union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_W head;
    BYTE bytes[1028];
};
static_assert(sizeof(DetailBuffer) == 1028);

// A set whose enumeration keeps failing would otherwise be walked for 2^32 indices.
constexpr int kMaxConsecutiveEnumFailures = 16;

// The platform may return the text without its NUL, or with an odd byte count: only the whole
// code units it returned are looked at.
bool DescriptionIs(const WCHAR* text, DWORD returnedBytes, std::size_t capacityBytes,
                   const WCHAR* expected) {
    const std::size_t bytes = returnedBytes < capacityBytes ? returnedBytes : capacityBytes;
    const std::size_t units = bytes / sizeof(WCHAR);
    std::size_t length = 0;
    while (length < units && text[length] != 0) {
        ++length;
    }
    if (length != kDescriptionLength) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != expected[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

GUID GetDeviceInterfaceGuid(DeviceKind kind) {
    switch (kind) {
    case kMouseKind:
        return interface_class::kMouse;
    case kHidKind:
        return interface_class::kHid;
    case kUsbHubKind:
        return interface_class::kUsbHub;
    case kUsbDeviceKind:
        return interface_class::kUsbDevice;
    default:
        return interface_class::kKeyboard;
    }
}

std::int32_t CountInputDevices(DeviceKind kind) {
    const GUID classGuid = GetDeviceInterfaceGuid(kind);
    const WCHAR* expected = nullptr;
    if (kind == kMouseKind) {
        expected = kMouseDescription;
    } else if (kind == kKeyboardKind) {
        expected = kKeyboardDescription;
    } else {
        return 0;
    }

    UniqueDeviceInfoSet set(
        SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) {
        return 0;
    }

    std::int32_t count = 0;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    SP_DEVINFO_DATA deviceData{};
    DetailBuffer detail{};
    WCHAR description[1024];
    DWORD size = 0;
    int consecutiveFailures = 0;

    for (DWORD index = 0;; ++index) {
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &classGuid, index, &interfaceData)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS ||
                ++consecutiveFailures >= kMaxConsecutiveEnumFailures) {
                break;
            }
            continue;
        }
        consecutiveFailures = 0;

        // Reset, so that a request that reports nothing never reuses the last interface's size.
        size = 0;
        SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, nullptr, 0, &size, nullptr);
        if (size == 0 || size > sizeof detail) {
            continue;
        }
        detail.head.cbSize = sizeof detail.head;
        deviceData.cbSize = sizeof deviceData;
        if (!SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, &detail.head, size, &size,
                                              &deviceData)) {
            continue;
        }

        size = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(set.get(), &deviceData, SPDRP_DEVICEDESC, nullptr,
                                               reinterpret_cast<PBYTE>(description),
                                               static_cast<DWORD>(sizeof description), &size)) {
            continue;
        }
        if (DescriptionIs(description, size, sizeof description, expected)) {
            ++count;
        }
    }
    return count;
}
