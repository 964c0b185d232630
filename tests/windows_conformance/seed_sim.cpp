// Seeding over the simulator: its test controls.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/security_control.h"
#include "platform/sim/setupapi_control.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace seed {

void ResetPlatform() {
    sim::Reset();
}

void RegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName, DWORD type,
                   const std::vector<BYTE>& data) {
    sim::SetRegistryValue(hive, keyPath, valueName, type, data);
}

void RemoveRegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName) {
    sim::DeleteRegistryValue(hive, keyPath, valueName);
}

void CreateRegistryKey(HKEY hive, const std::string& keyPath) {
    sim::CreateRegistryKey(hive, keyPath);
}

void RemoveRegistryKey(HKEY hive, const std::string& keyPath) {
    sim::DeleteRegistryKey(hive, keyPath);
}

bool CanChooseInputDevices() {
    return true;
}

namespace {
int g_mouse = 0;
int g_keyboard = 0;
} // namespace

void InputDevices(const std::wstring& mouseDescription, const std::wstring& keyboardDescription) {
    sim::RemoveAllDevices();
    g_mouse = sim::AddHidMouse(mouseDescription);
    g_keyboard = sim::AddHidKeyboard(keyboardDescription);
}

void DeviceProperty(InputDevice device, const DEVPROPKEY& key, DEVPROPTYPE type,
                    const std::vector<BYTE>& data) {
    sim::SetDeviceProperty(device == InputDevice::Mouse ? g_mouse : g_keyboard, key, type, data);
}

std::string TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/";
}

void MakeFolder(const std::string& path) {
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
}

void RemoveFolder(const std::string& path) {
    rmdir(path.c_str());
}

void HardLink(const std::string& existing, const std::string& link) {
    ASSERT_EQ(::link(existing.c_str(), link.c_str()), 0) << link;
}

bool SymbolicLink(const std::string& link, const std::string& target) {
    return symlink(target.c_str(), link.c_str()) == 0;
}

void FolderSecurity(const std::string& path, const std::string& sddl) {
    sim::SetFileSecurity(path, sddl);
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(getpid());
}

bool OnSimulator() {
    return true;
}

bool OnWine() {
    return false;
}

} // namespace seed
