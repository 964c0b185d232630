// The concrete service: registers for device-interface notifications of USB devices, keyboards
// and mice, and switches between tablet and laptop mode after arrivals, removals and automatic
// resume.
#pragma once

#include "platform/unique_handle.h"
#include "service/service_base.h"
#include "trigger/input_census.h"

#include <mutex>

class HingeflowService : public ServiceBase {
public:
    HingeflowService();

    // Releases a registration still held in `handle`, then registers `recipient` for device
    // interface notifications of `classGuid`. True when the registration is held.
    static bool RegisterDeviceInterfaceNotification(SERVICE_STATUS_HANDLE recipient,
                                                    UniqueDeviceNotification& handle,
                                                    GUID classGuid);

    // The USB device registration; null while none is held.
    HDEVNOTIFY DeviceNotify() const;

    // The hooks are public here so that tests and the frame alike can drive them.
    void onStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnShutdown() override;
    void OnDeviceEvent(DWORD eventType, LPVOID eventData) override;
    void onPowerEvent(DWORD eventType, LPVOID eventData) override;

private:
    void Register(UniqueDeviceNotification& slot, DeviceKind kind);

    // onStart registers on the service-main thread while a stop may already be handled on the
    // control thread; the lock orders the two over these fields.
    mutable std::mutex registrationLock;
    // Set by the first stop and never cleared: the process ends after it, and a registration
    // made later would be held by nobody.
    bool stopped = false;
    // Owned, so destroying the service also releases registrations that shutdown left held.
    UniqueDeviceNotification deviceNotify;
    UniqueDeviceNotification keyboardNotify;
    UniqueDeviceNotification mouseNotify;
};
