// The concrete service. OnDeviceEvent and onPowerEvent may run while onStart is still running
// on the other thread, so they touch no field of the object.
#include "trigger/hingeflow_service.h"

#include "config/diagnostic_log.h"
#include "platform/device_interface_classes.h"
#include "trigger/presence_check.h"
#include "trigger/slate_mode.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {

// The record declares 32 bytes on every platform; the rest of the buffer stays zero.
constexpr std::size_t kFilterBufferSize = 1024;
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "dbcc_size must be 32");

// A device path is a counted string of at most 32767 characters; a record declaring more than
// that path and its NUL is not one the system made.
constexpr DWORD kMaxInterfaceRecordSize = static_cast<DWORD>(
    offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (32767 + 1) * sizeof(WCHAR));

// "keyboard" or "mouse" for an event of those interface classes; null for every other record,
// and for one missing, short, oversized or of another device type, none of whose fields beyond
// the size is read.
const char* InputClassOf(LPVOID eventData) {
    if (eventData == nullptr) {
        return nullptr;
    }
    DWORD size = 0;
    std::memcpy(&size, eventData, sizeof size);
    if (size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) || size > kMaxInterfaceRecordSize) {
        return nullptr;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W record{};
    std::memcpy(&record, eventData, sizeof record);
    if (record.dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return nullptr;
    }
    if (IsEqualGUID(record.dbcc_classguid, interface_class::kKeyboard)) {
        return "keyboard";
    }
    if (IsEqualGUID(record.dbcc_classguid, interface_class::kMouse)) {
        return "mouse";
    }
    return nullptr;
}

} // namespace

HingeflowService::HingeflowService()
    : ServiceBase(L"HingeflowService", L"hingeflow tirgger service", SERVICE_AUTO_START,
                  SERVICE_ERROR_NORMAL,
                  SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT, L"",
                  L"", L"") {
    description = L"Switches Windows between tablet and laptop mode as keyboards and mice are "
                  L"attached and detached, on convertibles that have no hinge sensor.";
}

bool HingeflowService::RegisterDeviceInterfaceNotification(SERVICE_STATUS_HANDLE recipient,
                                                           UniqueDeviceNotification& handle,
                                                           GUID classGuid) {
    handle.reset();
    alignas(DEV_BROADCAST_DEVICEINTERFACE_W) BYTE buffer[kFilterBufferSize] = {};
    auto* filter = new (buffer) DEV_BROADCAST_DEVICEINTERFACE_W{};
    filter->dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W);
    filter->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter->dbcc_reserved = 0;
    filter->dbcc_classguid = classGuid;
    filter->dbcc_name[0] = 0;
    handle.reset(RegisterDeviceNotificationW(recipient, filter, DEVICE_NOTIFY_SERVICE_HANDLE));
    if (!handle) {
        LogError("RegisterDeviceNotification failed");
        return false;
    }
    return true;
}

HDEVNOTIFY HingeflowService::DeviceNotify() const {
    const std::lock_guard<std::mutex> lock(registrationLock);
    return deviceNotify.get();
}

// The registration call itself runs outside the lock: a device event may be delivered, and a
// stop handled, before it returns. A registration that a stop overtook is released at once.
void HingeflowService::Register(UniqueDeviceNotification& slot, DeviceKind kind) {
    UniqueDeviceNotification held;
    {
        const std::lock_guard<std::mutex> lock(registrationLock);
        if (stopped) {
            return;
        }
        held = std::move(slot);
    }
    RegisterDeviceInterfaceNotification(statusHandle, held, GetDeviceInterfaceGuid(kind));
    const std::lock_guard<std::mutex> lock(registrationLock);
    // cppcheck-suppress knownConditionTrueFalse ; the control thread may have set it meanwhile
    if (!stopped) {
        slot = std::move(held);
    }
}

// A USB device's event may come before its keyboard can be counted; a keyboard or mouse
// interface is enabled only once its driver has started, so its own arrival is the moment the
// census is sure to see it, however late that is and whatever bus it came on.
void HingeflowService::onStart(DWORD /*argc*/, LPWSTR* /*argv*/) {
    LogVerbose("HingeflowService onStart");
    Register(deviceNotify, kUsbDeviceKind);
    Register(keyboardNotify, kKeyboardKind);
    Register(mouseNotify, kMouseKind);
}

void HingeflowService::OnStop() {
    LogVerbose("HingeflowService OnStop");
    UniqueDeviceNotification usb;
    UniqueDeviceNotification keyboard;
    UniqueDeviceNotification mouse;
    {
        const std::lock_guard<std::mutex> lock(registrationLock);
        stopped = true;
        usb = std::move(deviceNotify);
        keyboard = std::move(keyboardNotify);
        mouse = std::move(mouseNotify);
    }
    usb.reset();
    keyboard.reset();
    mouse.reset();
}

void HingeflowService::OnShutdown() {
    LogVerbose("HingeflowService OnShutdown");
}

void HingeflowService::OnDeviceEvent(DWORD eventType, LPVOID eventData) {
    switch (eventType) {
    case DBT_DEVNODES_CHANGED:
        LogVerbose("DBT_DEVNODES_CHANGED");
        break;
    case DBT_DEVICEARRIVAL:
        if (const char* inputClass = InputClassOf(eventData)) {
            LogVerbose("DBT_DEVICEARRIVAL: %s interface", inputClass);
            // Never forced: the device's USB arrival may have toggled already, and one attach
            // must toggle at most once. Over a stored 1 this write changes nothing.
            if (IsExternalInputAttached()) {
                const bool written = SetTabletMode(1, false);
                LogVerbose("exit tablet mode: %d", written ? 1 : 0);
            }
            break;
        }
        LogVerbose("DBT_DEVICEARRIVAL");
        LogVerbose("event type: %d", static_cast<int>(eventType));
        if (IsExternalInputAttached()) {
            const bool written = SetTabletMode(1, true);
            LogVerbose("exit tablet mode: %d", written ? 1 : 0);
        }
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        if (const char* inputClass = InputClassOf(eventData)) {
            LogVerbose("DBT_DEVICEREMOVECOMPLETE: %s interface", inputClass);
        } else {
            LogVerbose("DBT_DEVICEREMOVECOMPLETE");
            LogVerbose("event type: %d", static_cast<int>(eventType));
        }
        if (!IsExternalInputAttached()) {
            const bool written = SetTabletMode(0, false);
            LogVerbose("enter tablet mode: %d", written ? 1 : 0);
        }
        break;
    default:
        LogVerbose("SERVICE_CONTROL_DEVICEEVENT unhandled: %04x", static_cast<unsigned>(eventType));
        break;
    }
}

void HingeflowService::onPowerEvent(DWORD eventType, LPVOID /*eventData*/) {
    LogVerbose("onPowerEvent: %d", static_cast<int>(eventType));
    if (eventType == PBT_APMRESUMEAUTOMATIC && IsExternalInputAttached()) {
        const bool written = SetTabletMode(1, true);
        LogVerbose("resume and exit tablet mode: %d", written ? 1 : 0);
    }
}
