// Simulator face only: test controls of the simulated SetupAPI. Each device owns one interface
// of one interface class and has a device description (SPDRP_DEVICEDESC).
#pragma once

#include "platform/sim/types.h"

#include <string>

namespace sim {

// Adds a device with one interface of `interfaceClass`; returns the device's id.
int AddDeviceInterface(const GUID& interfaceClass, const std::wstring& description,
                       bool present = true);
// The same on the standard mouse and keyboard interface classes, described as Windows
// describes a standard HID mouse and keyboard unless told otherwise.
int AddHidMouse(const std::wstring& description = L"HID-compliant mouse", bool present = true);
int AddHidKeyboard(const std::wstring& description = L"HID Keyboard Device", bool present = true);

void SetDevicePresent(int deviceId, bool present);
void RemoveAllDevices();

} // namespace sim
