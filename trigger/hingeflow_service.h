// The concrete service: registers for device-interface notifications of USB devices, keyboards
// and mice, and for the console display state where the machine has Modern Standby, and has its
// decider switch between tablet and laptop mode after arrivals, removals, automatic resume, a
// display wake and its own start.
#pragma once

#include "platform/unique_handle.h"
#include "service/service_base.h"
#include "trigger/decider.h"
#include "trigger/input_census.h"

#include <mutex>
#include <optional>

// The service-specific exit codes of a start that fails, which SERVICE_STOPPED carries.
constexpr DWORD kExitCannotWatchDevices = 1; // every device notification registration refused
constexpr DWORD kExitNoDecider = 2;          // the decider's events or thread could not be made

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
    // The console display state registration; null while none is held.
    HPOWERNOTIFY DisplayNotify() const;

    // onStart starts the decider before its first registration; a test that drives the hooks
    // without a start starts it here. False, logged, when it cannot be started.
    bool StartDecider();
    // Waits until every event the hooks have handed over so far has been decided.
    bool WaitUntilDecided(DWORD timeoutMs = INFINITE);

    // The hooks are public here so that tests and the frame alike can drive them.
    void onStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnShutdown() override;
    void OnDeviceEvent(DWORD eventType, LPVOID eventData) override;
    void onPowerEvent(DWORD eventType, LPVOID eventData) override;

private:
    enum class Registration { Held, Refused, Overtaken };
    Registration Register(UniqueDeviceNotification& slot, DeviceKind kind);
    void WatchDisplayState();
    void OnPowerSettingChange(LPVOID eventData);
    void ReportToEventLog(WORD type, DWORD eventId, const std::wstring& what, DWORD error) const;

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
    UniquePowerNotification displayNotify;
    // The console display state last notified; the control thread's own.
    std::optional<DWORD> displayState;
    // Declared last, so destroyed first: joined before the registrations above are released.
    Decider decider;
};
