// The concrete service. OnDeviceEvent and onPowerEvent may run while onStart is still running
// on the other thread, so they touch no field of the object.
#include "trigger/hingeflow_service.h"

#include "config/diagnostic_log.h"
#include "trigger/input_census.h"
#include "trigger/presence_check.h"
#include "trigger/slate_mode.h"

#include <cstddef>
#include <new>

namespace {

// The record declares 32 bytes on every platform; the rest of the buffer stays zero.
constexpr std::size_t kFilterBufferSize = 1024;
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "dbcc_size must be 32");

} // namespace

HingeflowService::HingeflowService()
    : ServiceBase(L"HingeflowService", L"hingeflow tirgger service", SERVICE_AUTO_START,
                  SERVICE_ERROR_NORMAL,
                  SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT, L"",
                  L"", L"") {}

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

void HingeflowService::onStart(DWORD /*argc*/, LPWSTR* /*argv*/) {
    LogVerbose("HingeflowService onStart");
    const GUID usbDevice = GetDeviceInterfaceGuid(kUsbDeviceKind);
    RegisterDeviceInterfaceNotification(statusHandle, deviceNotify, usbDevice);
}

void HingeflowService::OnStop() {
    LogVerbose("HingeflowService OnStop");
    deviceNotify.reset();
}

void HingeflowService::OnShutdown() {
    LogVerbose("HingeflowService OnShutdown");
}

void HingeflowService::OnDeviceEvent(DWORD eventType, LPVOID /*eventData*/) {
    switch (eventType) {
    case DBT_DEVNODES_CHANGED:
        LogVerbose("DBT_DEVNODES_CHANGED");
        break;
    case DBT_DEVICEARRIVAL:
        LogVerbose("DBT_DEVICEARRIVAL");
        LogVerbose("event type: %d", static_cast<int>(eventType));
        if (IsExternalInputAttached()) {
            const bool written = SetTabletMode(1, true);
            LogVerbose("exit tablet mode: %d", written ? 1 : 0);
        }
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        LogVerbose("DBT_DEVICEREMOVECOMPLETE");
        LogVerbose("event type: %d", static_cast<int>(eventType));
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
