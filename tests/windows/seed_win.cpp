// Seeding on Windows and under Wine: ordinary registry writes, through the same API an
// administrator's tools use.
#include "tests/windows_conformance/platform_seed.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#ifdef __MINGW32__
// Windows has had it since Vista, but mingw-w64's setupapi.h does not declare it.
extern "C" DECLSPEC_IMPORT BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA,
                                                                 const DEVPROPKEY*, DEVPROPTYPE,
                                                                 const BYTE*, DWORD, DWORD);
#endif

namespace {

// Wine's virtual HID devices: the owners of its one mouse and one keyboard interface.
constexpr const wchar_t* kWineMouseDevice =
    L"System\\CurrentControlSet\\Enum\\HID\\VID_845E&PID_0001\\0&0000&0&0";
constexpr const wchar_t* kWineKeyboardDevice =
    L"System\\CurrentControlSet\\Enum\\HID\\VID_845E&PID_0002\\0&0000&0&0";

// The same devices by instance ID, for SetupAPI.
constexpr const wchar_t* kWineMouseInstance = L"HID\\VID_845E&PID_0001\\0&0000&0&0";
constexpr const wchar_t* kWineKeyboardInstance = L"HID\\VID_845E&PID_0002\\0&0000&0&0";

void Describe(const wchar_t* deviceKey, const std::wstring& description) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, deviceKey, 0, KEY_SET_VALUE, &key);
    ASSERT_EQ(status, ERROR_SUCCESS)
        << "no Wine HID device at " << testing::PrintToString(deviceKey);
    status = RegSetValueExW(key, L"DeviceDesc", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(description.c_str()),
                            static_cast<DWORD>((description.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
}

} // namespace

namespace seed {

void ResetPlatform() {}

void RegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName, DWORD type,
                   const std::vector<BYTE>& data) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(hive, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     &key, nullptr);
    ASSERT_EQ(status, ERROR_SUCCESS) << "creating " << keyPath;
    const BYTE none = 0;
    status = RegSetValueExA(key, valueName.c_str(), 0, type, data.empty() ? &none : data.data(),
                            static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS) << "storing " << valueName;
}

void RemoveRegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, keyPath.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, valueName.c_str());
        RegCloseKey(key);
    }
}

void CreateRegistryKey(HKEY hive, const std::string& keyPath) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(hive, keyPath.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
        ERROR_SUCCESS)
        << "creating " << keyPath;
    RegCloseKey(key);
}

void RemoveRegistryKey(HKEY hive, const std::string& keyPath) {
    RegDeleteKeyA(hive, keyPath.c_str()); // the keys removed here have no subkeys
}

bool CanChooseInputDevices() {
    return OnWine();
}

void InputDevices(const std::wstring& mouseDescription, const std::wstring& keyboardDescription) {
    ASSERT_TRUE(OnWine()) << "only Wine's virtual HID devices can be described by a test";
    Describe(kWineMouseDevice, mouseDescription);
    Describe(kWineKeyboardDevice, keyboardDescription);
    for (InputDevice device : {InputDevice::Mouse, InputDevice::Keyboard}) {
        for (const DEVPROPKEY& key :
             {device_property::kMatchingDeviceId, device_property::kDriverInfPath,
              device_property::kContainerId, device_property::kInLocalMachineContainer}) {
            DeviceProperty(device, key, DEVPROP_TYPE_EMPTY, {});
        }
    }
}

void DeviceProperty(InputDevice device, const DEVPROPKEY& key, DEVPROPTYPE type,
                    const std::vector<BYTE>& data) {
    ASSERT_TRUE(OnWine()) << "Windows sets the properties of its devices itself";
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA deviceData{};
    deviceData.cbSize = sizeof deviceData;
    const wchar_t* instance =
        device == InputDevice::Mouse ? kWineMouseInstance : kWineKeyboardInstance;
    BOOL ok = SetupDiOpenDeviceInfoW(set, instance, nullptr, 0, &deviceData);
    if (ok) {
        ok = SetupDiSetDevicePropertyW(set, &deviceData, &key, type,
                                       data.empty() ? nullptr : data.data(),
                                       static_cast<DWORD>(data.size()), 0);
        // Removing what is not there is no failure here.
        ok = ok || (type == DEVPROP_TYPE_EMPTY && GetLastError() == ERROR_NOT_FOUND);
    }
    const DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    ASSERT_TRUE(ok) << "setting a property of " << testing::PrintToString(instance) << ": "
                    << error;
}

std::string TemporaryDirectory() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(static_cast<DWORD>(sizeof path), path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string(".\\");
}

void MakeFolder(const std::string& path) {
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << ": " << GetLastError();
}

void RemoveFolder(const std::string& path) {
    RemoveDirectoryA(path.c_str());
}

void HardLink(const std::string& existing, const std::string& link) {
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), existing.c_str(), nullptr))
        << link << ": " << GetLastError();
}

bool SymbolicLink(const std::string& link, const std::string& target) {
    constexpr DWORD kAllowUnprivilegedCreate = 0x2; // developer mode; ignored where unknown
    if (!CreateSymbolicLinkA(link.c_str(), target.c_str(), kAllowUnprivilegedCreate)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void FolderSecurity(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD status =
        SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION,
                              owner, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    ASSERT_EQ(status, static_cast<DWORD>(ERROR_SUCCESS)) << path;
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

bool OnSimulator() {
    return false;
}

bool OnWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace seed
