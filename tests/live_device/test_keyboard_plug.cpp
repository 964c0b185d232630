// Plugs and unplugs the test keyboard under Wine, the way Windows sees a USB keyboard come and go.
//   test_keyboard_plug setup            installs and starts the driver found beside this program
//   test_keyboard_plug plug [delay-ms]  the device appears, its keyboard delay-ms after its USB one
//   test_keyboard_plug plug delay-ms no-usb
//                                       likewise with no USB interface: a cover on another bus
//   test_keyboard_plug plug-as builtin|attached
//                                       likewise, placed by its container properties in the
//                                       machine's own container or in one of its own
//   test_keyboard_plug plug delay-ms dock count
//                                       a dock: count more USB devices, none of them input, come
//                                       100 to 300 ms apart around the keyboard; all go at once
//   test_keyboard_plug unplug           the device goes
//   test_keyboard_plug storm cycles     plugs and unplugs that many times, as fast as it can
//   test_keyboard_plug control code     sends HingeflowService a user-defined control (the bridge
//                                       host's stand-ins for power events)
// Prints nothing on success; a failure prints the step and the Windows error code, exit status 1.
#include "platform/device_properties.h"
#include "platform/unique_handle.h"

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

#include <setupapi.h>

#ifdef __MINGW32__
// Windows has had it since Vista, but mingw-w64's setupapi.h does not declare it.
extern "C" DECLSPEC_IMPORT BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA,
                                                                 const DEVPROPKEY*, DEVPROPTYPE,
                                                                 const BYTE*, DWORD, DWORD);
#endif

namespace {

constexpr wchar_t kDriver[] = L"HingeflowTestKeyboard";
constexpr wchar_t kInstancePrefix[] = L"ROOT\\HINGEFLOW_TEST_KEYBOARD";
constexpr wchar_t kHardwareIds[] = L"ROOT\\HINGEFLOW_TEST_KEYBOARD\0";
// What the census counts as a keyboard.
constexpr wchar_t kDescription[] = L"HID Keyboard Device";
// Private to Wine's driver host: it enumerates the driver's root devices again.
constexpr DWORD kRescanRootDevices = 128;
// The container a removable keyboard would get from Windows: any GUID but the machine's.
constexpr GUID kOwnContainer = {
    0x6b1d3c2a, 0x5e4f, 0x4a7b, {0x9c, 0x8d, 0x1e, 0x2f, 0x3a, 0x4b, 0x5c, 0x6d}};
// GUID_DEVCLASS_KEYBOARD, the setup class Windows gives HID keyboards.
constexpr GUID kKeyboardSetupClass = {
    0x4d36e96b, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

int Fail(const char* step) {
    std::fprintf(stderr, "%s failed: %lu\n", step, GetLastError());
    return 1;
}

template <std::size_t N>
bool SetProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, const wchar_t (&text)[N]) {
    return SetupDiSetDeviceRegistryPropertyW(set, &device, property,
                                             reinterpret_cast<const BYTE*>(text),
                                             static_cast<DWORD>(sizeof text)) != FALSE;
}

int Setup() {
    wchar_t source[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, source, MAX_PATH);
    if (length == 0 || length == MAX_PATH) {
        return Fail("GetModuleFileNameW");
    }
    std::wstring driverFile(source, length);
    driverFile.replace(driverFile.rfind(L'\\') + 1, std::wstring::npos,
                       L"hingeflow_test_keyboard.sys");
    wchar_t system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) {
        return Fail("GetSystemDirectoryW");
    }
    const std::wstring installed = std::wstring(system) + L"\\drivers\\" + kDriver + L".sys";
    if (!CopyFileW(driverFile.c_str(), installed.c_str(), FALSE)) {
        return Fail("CopyFileW");
    }
    UniqueScmHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) {
        return Fail("OpenSCManagerW");
    }
    UniqueScmHandle service(CreateServiceW(scm.get(), kDriver, kDriver, SERVICE_ALL_ACCESS,
                                           SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                           SERVICE_ERROR_NORMAL, installed.c_str(), nullptr,
                                           nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        return Fail("CreateServiceW");
    }
    if (!StartServiceW(service.get(), 0, nullptr)) {
        return Fail("StartServiceW");
    }
    return 0;
}

// The keyboard is device 0000; a dock's other devices are 0001 and on.
constexpr DWORD kMaxDockDevices = 8;
constexpr DWORD kDockSpacingMs[] = {100, 200, 300};
constexpr wchar_t kDockDescription[] = L"Test dock device";

std::wstring InstanceId(DWORD number) {
    wchar_t id[64];
    std::swprintf(id, 64, L"%ls\\%04lu", kInstancePrefix, static_cast<unsigned long>(number));
    return id;
}

bool Present(DWORD number) {
    UniqueDeviceInfoSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    return set &&
           SetupDiOpenDeviceInfoW(set.get(), InstanceId(number).c_str(), nullptr, 0, &device);
}

// SetupDiRemoveDevice returns before Wine's driver host has removed the device; a plug meanwhile
// fails with ERROR_DEVINST_ALREADY_EXISTS. True once all are gone, false after 10 s.
bool Removed() {
    constexpr int kPolls = 10000;
    for (int i = 0; i < kPolls; ++i) {
        bool any = false;
        for (DWORD number = 0; number <= kMaxDockDevices && !any; ++number) {
            any = Present(number);
        }
        if (!any) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

bool SetDeviceNumber(HKEY key, const wchar_t* name, DWORD number) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number) == ERROR_SUCCESS;
}

enum class Container { NotSet, BuiltIn, Attached };

// Both properties, as Windows sets them on a device it has placed; Wine stores what it is given.
bool Place(HDEVINFO set, SP_DEVINFO_DATA& device, Container container) {
    if (container == Container::NotSet) {
        return true;
    }
    const bool builtIn = container == Container::BuiltIn;
    const GUID& id = builtIn ? device_property::kMachineContainer : kOwnContainer;
    const DEVPROP_BOOLEAN inMachine = builtIn ? DEVPROP_TRUE : DEVPROP_FALSE;
    return SetupDiSetDevicePropertyW(set, &device, &device_property::kContainerId,
                                     DEVPROP_TYPE_GUID, reinterpret_cast<const BYTE*>(&id),
                                     sizeof id, 0) &&
           SetupDiSetDevicePropertyW(
               set, &device, &device_property::kInLocalMachineContainer, DEVPROP_TYPE_BOOLEAN,
               reinterpret_cast<const BYTE*>(&inMachine), sizeof inMachine, 0);
}

// How one device starts, which its driver reads from the device's hardware key.
struct DeviceStart {
    DWORD keyboardDelayMs = 0;
    bool usbInterface = true;
    DWORD usbDelayMs = 0;
    bool keyboardInterface = true;
    Container container = Container::NotSet;
};

int Register(DWORD number, const DeviceStart& start) {
    UniqueDeviceInfoSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!set || !SetupDiCreateDeviceInfoW(set.get(), InstanceId(number).c_str(),
                                          &kKeyboardSetupClass, nullptr, nullptr, 0, &device)) {
        return Fail("SetupDiCreateDeviceInfoW");
    }
    if (!SetupDiRegisterDeviceInfo(set.get(), &device, 0, nullptr, nullptr, nullptr) ||
        !SetProperty(set.get(), device, SPDRP_HARDWAREID, kHardwareIds) ||
        !(start.keyboardInterface
              ? SetProperty(set.get(), device, SPDRP_DEVICEDESC, kDescription)
              : SetProperty(set.get(), device, SPDRP_DEVICEDESC, kDockDescription)) ||
        !SetProperty(set.get(), device, SPDRP_SERVICE, kDriver)) {
        return Fail("registering the device");
    }
    if (!Place(set.get(), device, start.container)) {
        return Fail("SetupDiSetDevicePropertyW");
    }
    const HKEY opened = SetupDiCreateDevRegKeyW(set.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                                nullptr, nullptr);
    UniqueRegistryKey key(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    if (!key || !SetDeviceNumber(key.get(), L"KeyboardDelayMs", start.keyboardDelayMs) ||
        !SetDeviceNumber(key.get(), L"NoUsbInterface", start.usbInterface ? 0 : 1) ||
        !SetDeviceNumber(key.get(), L"UsbDelayMs", start.usbDelayMs) ||
        !SetDeviceNumber(key.get(), L"NoKeyboardInterface", start.keyboardInterface ? 0 : 1)) {
        return Fail("storing how the device starts");
    }
    return 0;
}

// A dock's other devices all start with the keyboard, each enabling its USB interface after a
// delay of its own, 100, 200 or 300 ms after the one before.
int Plug(DWORD keyboardDelayMs, bool usbInterface, DWORD dockDevices = 0,
         Container container = Container::NotSet) {
    if (!Removed()) {
        return Fail("waiting for the last removal");
    }
    DeviceStart keyboard;
    keyboard.keyboardDelayMs = keyboardDelayMs;
    keyboard.usbInterface = usbInterface;
    keyboard.container = container;
    if (const int status = Register(0, keyboard)) {
        return status;
    }
    DeviceStart other;
    other.keyboardInterface = false;
    for (DWORD number = 1; number <= dockDevices && number <= kMaxDockDevices; ++number) {
        other.usbDelayMs += kDockSpacingMs[(number - 1) % std::size(kDockSpacingMs)];
        if (const int status = Register(number, other)) {
            return status;
        }
    }
    UniqueScmHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScmHandle driver(scm ? OpenServiceW(scm.get(), kDriver, SERVICE_USER_DEFINED_CONTROL)
                               : nullptr);
    SERVICE_STATUS status{};
    if (!driver || !ControlService(driver.get(), kRescanRootDevices, &status)) {
        return Fail("starting the device");
    }
    return 0;
}

// Every other device of a dock, then the keyboard, one right after another: however far apart
// Wine delivers their removals, only the keyboard's leaves no external input.
int Unplug() {
    for (DWORD number = kMaxDockDevices + 1; number-- > 0;) {
        UniqueDeviceInfoSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!set ||
            !SetupDiOpenDeviceInfoW(set.get(), InstanceId(number).c_str(), nullptr, 0, &device)) {
            if (number == 0) {
                return Fail("SetupDiOpenDeviceInfoW");
            }
            continue;
        }
        if (!SetupDiRemoveDevice(set.get(), &device)) {
            return Fail("SetupDiRemoveDevice");
        }
    }
    return 0;
}

int Storm(unsigned long cycles) {
    for (unsigned long i = 0; i < cycles; ++i) {
        if (const int status = Plug(0, true)) {
            return status;
        }
        if (const int status = Unplug()) {
            return status;
        }
    }
    return 0;
}

int SendControl(DWORD code) {
    UniqueScmHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScmHandle service(
        scm ? OpenServiceW(scm.get(), L"HingeflowService", SERVICE_USER_DEFINED_CONTROL) : nullptr);
    SERVICE_STATUS status{};
    if (!service || !ControlService(service.get(), code, &status)) {
        return Fail("ControlService");
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    const auto number = [&](int i) { return std::wcstoul(argv[i], nullptr, 10); };
    if (command == L"setup" && argc == 2) {
        return Setup();
    }
    if (command == L"plug" && argc <= 3) {
        return Plug(argc == 3 ? static_cast<DWORD>(number(2)) : 0, true);
    }
    if (command == L"plug" && argc == 4 && std::wstring(argv[3]) == L"no-usb") {
        return Plug(static_cast<DWORD>(number(2)), false);
    }
    if (command == L"plug-as" && argc == 3 &&
        (std::wstring(argv[2]) == L"builtin" || std::wstring(argv[2]) == L"attached")) {
        return Plug(0, true, 0,
                    std::wstring(argv[2]) == L"builtin" ? Container::BuiltIn : Container::Attached);
    }
    if (command == L"plug" && argc == 5 && std::wstring(argv[3]) == L"dock") {
        return Plug(static_cast<DWORD>(number(2)), true, static_cast<DWORD>(number(4)));
    }
    if (command == L"unplug" && argc == 2) {
        return Unplug();
    }
    if (command == L"storm" && argc == 3) {
        return Storm(number(2));
    }
    if (command == L"control" && argc == 3) {
        return SendControl(static_cast<DWORD>(number(2)));
    }
    std::fprintf(stderr,
                 "usage: test_keyboard_plug setup | plug [delay-ms [no-usb | dock count]] | "
                 "plug-as builtin|attached | unplug | storm cycles | control code\n");
    return 2;
}
