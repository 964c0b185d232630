// Puts the platform into a known state by a back door: the simulator's own controls over the
// simulator, ordinary Win32 calls on Windows. The conformance cases themselves then use only
// the platform calls that hingeflow makes, so the same source checks both faces.
#pragma once

#include "platform/windows_base.h"

#include "platform/device_properties.h"
#include "platform/setup_api.h"

#include <atomic>
#include <string>
#include <vector>

namespace seed {

// A clean platform: the simulator reset, or on Windows nothing (each case cleans up after
// itself, because a real registry cannot be reset).
void ResetPlatform();

// Stores the bytes exactly as given, as RegSetValueExA would: any type, any size.
void RegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName, DWORD type,
                   const std::vector<BYTE>& data);
void RemoveRegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName);
void CreateRegistryKey(HKEY hive, const std::string& keyPath);
void RemoveRegistryKey(HKEY hive, const std::string& keyPath);

// Whether InputDevices can work here: over the simulator and under Wine, not on a real machine,
// whose devices a test cannot choose.
bool CanChooseInputDevices();
// Exactly one present HID mouse and one HID keyboard, each owning one interface of the
// standard mouse or keyboard class, described as given, with no driver or container properties.
void InputDevices(const std::wstring& mouseDescription, const std::wstring& keyboardDescription);
enum class InputDevice { Mouse, Keyboard };
// A property of one of those two devices, stored as given; DEVPROP_TYPE_EMPTY removes it. Under
// Wine through SetupDiSetDevicePropertyW, which Windows refuses for the read-only properties
// that Windows sets at installation: only where InputDevices works.
void DeviceProperty(InputDevice device, const DEVPROPKEY& key, DEVPROPTYPE type,
                    const std::vector<BYTE>& data);

// A directory for throwaway files, ending in the platform's path separator.
std::string TemporaryDirectory();
// Folders and links for throwaway files. A folder is removed once empty.
void MakeFolder(const std::string& path);
void RemoveFolder(const std::string& path);
void HardLink(const std::string& existing, const std::string& link);
// A symbolic link to a file, a reparse point; false where none can be made (Wine 8 answers
// CreateSymbolicLink with success and makes nothing).
bool SymbolicLink(const std::string& link, const std::string& target);
// The folder's owner and access list, in SDDL, as an administrator's tools set them.
void FolderSecurity(const std::string& path, const std::string& sddl);
unsigned long ProcessId();
// A path in TemporaryDirectory() that no other test, in this process or in another one that
// CTest runs beside it, is given: the process id and a counter, never an address, which sanitizer
// builds make the same in every process.
inline std::string UniqueTemporaryPath(const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    return TemporaryDirectory() + stem + "-" + std::to_string(ProcessId()) + "-" +
           std::to_string(counter++);
}

bool OnWine();
// Marks a known gap of the simulator: the case expects what the simulator does today, so that it
// fails, and is revisited, once the simulator is fixed.
bool OnSimulator();

} // namespace seed

// Where Wine answers otherwise than Windows, a case asserts Windows' answer everywhere else, the
// simulator included. Under Wine it checks that Wine still answers its own way, so that the
// case fails, and is revisited, once Wine changes, then stops, saying why.
#define SKIP_WHERE_WINE_DIFFERS(wineStillDiffers, how)                                             \
    do {                                                                                           \
        if (seed::OnWine()) {                                                                      \
            EXPECT_TRUE(wineStillDiffers) << "Wine now answers as Windows does: " << (how);        \
            GTEST_SKIP() << "Wine differs from Windows here: " << (how);                           \
        }                                                                                          \
    } while (false)

// The characters of `text`, no terminator added.
inline std::vector<BYTE> Bytes(const std::string& text) {
    return std::vector<BYTE>(text.begin(), text.end());
}
inline std::vector<BYTE> TextWithTerminator(const std::string& text) {
    std::vector<BYTE> bytes = Bytes(text);
    bytes.push_back(0);
    return bytes;
}
inline std::vector<BYTE> WideTextWithTerminator(const std::wstring& text) {
    const auto* first = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(wchar_t));
}
inline std::vector<BYTE> DwordBytes(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

namespace seed {
// The driver Windows installed on one of the two input devices, as the two properties it sets:
// the ID it matched and its INF's file name.
inline void InstalledDriver(InputDevice device, const std::wstring& matchingDeviceId,
                            const std::wstring& infName) {
    DeviceProperty(device, device_property::kMatchingDeviceId, DEVPROP_TYPE_STRING,
                   WideTextWithTerminator(matchingDeviceId));
    DeviceProperty(device, device_property::kDriverInfPath, DEVPROP_TYPE_STRING,
                   WideTextWithTerminator(infName));
}
} // namespace seed
