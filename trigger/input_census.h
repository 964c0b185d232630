// Census of present HID mice and keyboards through SetupAPI, and the DeviceKind to interface
// class table. A census allocates nothing on the heap.
#pragma once

#include "platform/windows_base.h"

#include <cstdint>

// 0 keyboard, 1 mouse, 2 HID, 3 USB hub, 4 USB device; any other value means keyboard.
using DeviceKind = std::int32_t;
constexpr DeviceKind kKeyboardKind = 0;
constexpr DeviceKind kMouseKind = 1;
constexpr DeviceKind kHidKind = 2;
constexpr DeviceKind kUsbHubKind = 3;
constexpr DeviceKind kUsbDeviceKind = 4;

GUID GetDeviceInterfaceGuid(DeviceKind kind);

// Present interfaces of the kind's class whose device is a standard HID mouse (kind 1) or
// keyboard (kind 0): described exactly as Windows describes one in English, or, in any display
// language, installed by Windows' own driver for it. 0 for every other kind, without a platform
// call.
std::int32_t CountInputDevices(DeviceKind kind);
