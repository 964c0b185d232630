#include "trigger/input_census.h"

#include "platform/device_interface_classes.h"
#include "platform/device_properties.h"
#include "platform/setup_api.h"
#include "platform/unique_handle.h"

#include <cstddef>

namespace {

// What makes an interface count. Windows gives the description in the display language, so
// beyond English the standard devices are known by what installed them: the in-box INF entry
// whose English description is the text, matched through the ID Windows reserves for its own
// INFs. Neither property is localized. A vendor's INF is always copied as oemN.inf, so a
// vendor's keyboard does not count, in any language.
struct Standard {
    const WCHAR* description;
    const WCHAR* matchingDeviceId;
    const WCHAR* infName;
};
constexpr Standard kStandardMouse{L"HID-compliant mouse", L"HID_DEVICE_SYSTEM_MOUSE",
                                  L"msmouse.inf"};
constexpr Standard kStandardKeyboard{L"HID Keyboard Device", L"HID_DEVICE_SYSTEM_KEYBOARD",
                                     L"keyboard.inf"};

// The device path is never read; the detail is fetched only to learn the owning device.
union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_W head;
    BYTE bytes[1028];
};
static_assert(sizeof(DetailBuffer) == 1028);

// A set whose enumeration keeps failing would otherwise be walked for 2^32 indices.
constexpr int kMaxConsecutiveEnumFailures = 16;

enum class Case { Exact, Ignored };

WCHAR AsciiLower(WCHAR c) {
    return c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c - L'A' + L'a') : c;
}

// The platform may return the text without its NUL, or with an odd byte count: only the whole
// code units it returned are looked at.
bool TextIs(const WCHAR* text, DWORD returnedBytes, std::size_t capacityBytes,
            const WCHAR* expected, Case letterCase) {
    const std::size_t bytes = returnedBytes < capacityBytes ? returnedBytes : capacityBytes;
    const std::size_t units = bytes / sizeof(WCHAR);
    std::size_t i = 0;
    for (; i < units && text[i] != 0; ++i) {
        const WCHAR got = letterCase == Case::Ignored ? AsciiLower(text[i]) : text[i];
        const WCHAR want = letterCase == Case::Ignored ? AsciiLower(expected[i]) : expected[i];
        if (expected[i] == 0 || got != want) {
            return false;
        }
    }
    return expected[i] == 0;
}

// IDs and file names are compared as Windows compares them, without regard to case. The
// buffer is the description's, free by now: the census stays within its frame.
bool StringPropertyIs(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key,
                      const WCHAR* expected, WCHAR* buffer, DWORD capacityBytes) {
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    DWORD size = 0;
    return SetupDiGetDevicePropertyW(set, &device, &key, &type, reinterpret_cast<PBYTE>(buffer),
                                     capacityBytes, &size, 0) &&
           type == DEVPROP_TYPE_STRING &&
           TextIs(buffer, size, capacityBytes, expected, Case::Ignored);
}

bool InstalledAsStandard(HDEVINFO set, SP_DEVINFO_DATA& device, const Standard& standard,
                         WCHAR* buffer, DWORD capacityBytes) {
    return StringPropertyIs(set, device, device_property::kMatchingDeviceId,
                            standard.matchingDeviceId, buffer, capacityBytes) &&
           StringPropertyIs(set, device, device_property::kDriverInfPath, standard.infName, buffer,
                            capacityBytes);
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
    const Standard* standard = nullptr;
    if (kind == kMouseKind) {
        standard = &kStandardMouse;
    } else if (kind == kKeyboardKind) {
        standard = &kStandardKeyboard;
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
        if (TextIs(description, size, sizeof description, standard->description, Case::Exact) ||
            InstalledAsStandard(set.get(), deviceData, *standard, description,
                                static_cast<DWORD>(sizeof description))) {
            ++count;
        }
    }
    return count;
}
