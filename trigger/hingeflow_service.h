// The concrete service: registers for USB device-interface notifications and switches between
// tablet and laptop mode after arrivals, removals and automatic resume.
#pragma once

#include "platform/unique_handle.h"
#include "service/service_base.h"

class HingeflowService : public ServiceBase {
public:
    HingeflowService();

    // Releases a registration still held in `handle`, then registers `recipient` for device
    // interface notifications of `classGuid`. True when the registration is held.
    static bool RegisterDeviceInterfaceNotification(SERVICE_STATUS_HANDLE recipient,
                                                    UniqueDeviceNotification& handle,
                                                    GUID classGuid);

    HDEVNOTIFY DeviceNotify() const { return deviceNotify.get(); }

    // The hooks are public here so that tests and the frame alike can drive them.
    void onStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnShutdown() override;
    void OnDeviceEvent(DWORD eventType, LPVOID eventData) override;
    void onPowerEvent(DWORD eventType, LPVOID eventData) override;

private:
    // Owned, so destroying the service also releases a registration that shutdown left held.
    UniqueDeviceNotification deviceNotify;
};
