// Simulator face only: test controls of the simulated SetupAPI. Each device owns one interface
// of one interface class and has a device description (SPDRP_DEVICEDESC); it has no other
// property until a test gives it one.
#pragma once

#include "platform/device_interface_classes.h"

#include <string>
#include <vector>

namespace sim {

// Adds a device with one interface of `interfaceClass`; returns the device's id.
int AddDeviceInterface(const GUID& interfaceClass, const std::wstring& description,
                       bool present = true);
// The same on the standard mouse and keyboard interface classes, described as Windows
// describes a standard HID mouse and keyboard unless told otherwise.
int AddHidMouse(const std::wstring& description = L"HID-compliant mouse", bool present = true);
int AddHidKeyboard(const std::wstring& description = L"HID Keyboard Device", bool present = true);

// Presence changes reach only device information sets built afterwards: a set is a snapshot.
void SetDevicePresent(int deviceId, bool present);
// Removes every device from the system; sets built earlier still hold theirs.
void RemoveAllDevices();

// The description as raw REG_SZ data: any length, no terminator added, odd sizes allowed.
void SetDeviceDescriptionData(int deviceId, const std::vector<BYTE>& data);
// Reading the description fails with `code` (ERROR_INVALID_DATA is what a missing value
// gives); 0 makes it readable again.
void SetDescriptionReadError(int deviceId, DWORD code);

// A device property as SetupDiGetDevicePropertyW returns it: stored as given, any type, any
// bytes; a later call for the same key replaces it, and DEVPROP_TYPE_EMPTY removes it.
void SetDeviceProperty(int deviceId, const DEVPROPKEY& key, DEVPROPTYPE type,
                       const std::vector<BYTE>& data);
// The driver Windows installed on the device: the ID it matched and its INF's file name, as the
// two string properties Windows sets at installation.
void InstallDriver(int deviceId, const std::wstring& matchingDeviceId, const std::wstring& infName);

// The device's container, as Windows records it: ContainerId, and InLocalMachineContainer true
// exactly when that is the machine's own container (device_property::kMachineContainer).
void PlaceInContainer(int deviceId, const GUID& containerId);

// The device path that the interface detail carries; the detail's size follows from it.
void SetDevicePath(int deviceId, const std::wstring& path);
// Overrides the size of the interface detail: the size reported and required, and the bytes
// written on success. kNoDetailSizeReported leaves the required-size output untouched when
// no buffer is passed; kNaturalDetailSize restores the size that the path gives.
constexpr DWORD kNaturalDetailSize = 0;
constexpr DWORD kNoDetailSizeReported = 0xFFFFFFFFu;
void SetReportedDetailSize(int deviceId, DWORD bytes);

// SetupDiEnumDeviceInterfaces fails with `code` at this member index of this class, in every
// set, until Reset; later indices still enumerate.
void FailEnumerationAt(const GUID& interfaceClass, DWORD memberIndex, DWORD code);

// How many device information sets may be open at once; one more fails with
// ERROR_NOT_ENOUGH_MEMORY.
constexpr int kDeviceInfoSetPoolSize = 64;

} // namespace sim
