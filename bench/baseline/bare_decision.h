// The platform calls that one positive decision needs, written inline with nothing around
// them: the floor against which the real decision path is measured. It compiles against both
// faces of the platform layer, so the simulator benchmarks and the Wine probe share it.
#pragma once

#include "platform/device_interface_classes.h"
#include "platform/device_properties.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/setup_api.h"

#include <cstring>

namespace bare {

inline constexpr WCHAR kMouseText[] = L"HID-compliant mouse";
inline constexpr WCHAR kKeyboardText[] = L"HID Keyboard Device";

// Size query, then the data, as a reader that does not know the size must do.
inline bool ReadFrom(HKEY hive, const char* path, REGSAM access, const char* name, BYTE* data,
                     DWORD capacity) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, path, 0, access, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    bool got = false;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        size = size < capacity ? size : capacity;
        got = RegQueryValueExA(key, name, nullptr, nullptr, data, &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return got;
}

// The policy key first, then the configuration, as every setting is read.
inline void ReadValue(const char* name, BYTE* data, DWORD capacity) {
    if (!ReadFrom(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\hingeflow", KEY_READ | KEY_WOW64_64KEY,
                  name, data, capacity)) {
        ReadFrom(HKEY_CURRENT_CONFIG, "System\\CurrentControlSet", KEY_READ, name, data, capacity);
    }
}

// External only, a matching device whose InLocalMachineContainer reads DEVPROP_TRUE is left out.
inline int Census(const GUID& cls, const WCHAR* expected, bool externalOnly = false) {
    HDEVINFO set =
        SetupDiGetClassDevsW(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    SP_DEVINFO_DATA device{};
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_W head;
        BYTE bytes[1028];
    } detail;
    WCHAR text[1024];
    int count = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &iface); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
        detail.head.cbSize = sizeof detail.head;
        device.cbSize = sizeof device;
        if (size > sizeof detail ||
            !SetupDiGetDeviceInterfaceDetailW(set, &iface, &detail.head, size, &size, &device) ||
            !SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, nullptr,
                                               reinterpret_cast<PBYTE>(text), sizeof text, &size)) {
            continue;
        }
        if (std::memcmp(text, expected, sizeof kMouseText) != 0) {
            continue;
        }
        BYTE inMachine = 0;
        DEVPROPTYPE type = 0;
        if (externalOnly &&
            SetupDiGetDevicePropertyW(set, &device, &device_property::kInLocalMachineContainer,
                                      &type, &inMachine, sizeof inMachine, &size, 0) &&
            inMachine == 0xFF) {
            continue;
        }
        ++count;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

// Combined trigger, then the forced switch to laptop mode; true when the value was written.
inline bool Decision() {
    DWORD externalOnly = 0;
    DWORD builtIn = 0;
    char trigger[2048];
    ReadValue("HingeflowExternalDevicesOnly", reinterpret_cast<BYTE*>(&externalOnly),
              sizeof externalOnly);
    if (externalOnly != 1) {
        ReadValue("BuiltInHIDKeyboardNumber", reinterpret_cast<BYTE*>(&builtIn), sizeof builtIn);
    }
    ReadValue("HingeflowTriggerDevice", reinterpret_cast<BYTE*>(trigger), sizeof trigger);
    const int mice = Census(interface_class::kMouse, kMouseText, externalOnly == 1);
    const int keyboards = Census(interface_class::kKeyboard, kKeyboardText, externalOnly == 1);
    if (mice < 1 || keyboards <= static_cast<int>(builtIn)) {
        return false;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\PriorityControl", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD current = 0;
    DWORD type = 0;
    DWORD size = sizeof current;
    RegQueryValueExA(key, "ConvertibleSlateMode", nullptr, &type, reinterpret_cast<BYTE*>(&current),
                     &size);
    const DWORD temporary = 10;
    const DWORD laptop = 1;
    if (current == laptop) {
        RegSetValueExA(key, "ConvertibleSlateMode", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&temporary), sizeof temporary);
    }
    const bool written =
        RegSetValueExA(key, "ConvertibleSlateMode", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&laptop), sizeof laptop) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

} // namespace bare
