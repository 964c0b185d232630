// Simulator face only: test controls of the service process's side of the SCM. A test plays the
// SCM that starts the process's service, delivers controls to it and records what it reports;
// it also reads the event-log entries and device-notification registrations the process made.
#pragma once

#include "platform/sim/types.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

// --- Playing the SCM ----------------------------------------------------------------------
struct ServiceControl {
    DWORD control = 0;
    DWORD eventType = 0;
    LPVOID eventData = nullptr;
    // The SCM holds a control back until the service has reported a state other than
    // SERVICE_START_PENDING; set this for one that may arrive as soon as the handler is
    // registered (a device or power event during onStart). It passes held-back ones.
    bool whileStartPending = false;
    // Runs on the dispatcher's thread, outside the simulator's lock, just before delivery:
    // the change in the world that the control announces (a device plugged in, say).
    std::function<void()> beforeDelivery;
};

// Makes the next StartServiceCtrlDispatcherW act as the SCM starting the table's first service:
// its service-main runs on a new thread with argv = {the table's service name,
// extraStartArguments...}; each queued control goes to the registered handler on the
// dispatcher's thread, one at a time, after the previous one returned. As on Windows, the
// dispatcher returns TRUE once SERVICE_STOPPED has been reported, even while service-main still
// runs (the next dispatcher or Reset waits for it); also once service-main has returned and no
// queued control can be delivered any more (where the SCM would time the service out),
// undelivered controls being dropped. Without PlayScm the
// dispatcher fails at once with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT.
void PlayScm(std::vector<ServiceControl> controls = {},
             std::vector<std::wstring> extraStartArguments = {});
// Queues one more control, from any thread: a hook, service code, or the test before PlayScm.
void SendServiceControl(ServiceControl control);
// Handler calls that have returned since Reset.
int ServiceControlsDelivered();
// Waits, outside any simulator lock, until that many handler calls have returned; false after
// ten seconds without.
bool WaitForServiceControlsDelivered(int count);

// Waits, outside any simulator lock, until the last session's service-main has returned; false
// after ten seconds without.
bool WaitForServiceMainToReturn();

// Every record SetServiceStatus accepted, in order, across sessions since Reset.
std::vector<SERVICE_STATUS> ReportedStatuses();
std::vector<DWORD> ReportedStates(); // dwCurrentState of each

// --- Event log ----------------------------------------------------------------------------
struct ReportedEvent {
    std::wstring source;
    WORD type = 0;
    WORD category = 0;
    DWORD eventId = 0;
    bool userSid = false;
    std::vector<std::wstring> strings;
    DWORD rawDataSize = 0;
};
std::vector<ReportedEvent> ReportedEvents();

// --- Device notification ------------------------------------------------------------------
struct DeviceNotificationRecord {
    HDEVNOTIFY handle = nullptr;
    HANDLE recipient = nullptr;
    DWORD flags = 0;
    std::vector<BYTE> filter; // the filter's first dbcc_size bytes; empty for a null filter
    bool live = false;        // not yet unregistered
};
// Every successful registration since Reset, in order.
std::vector<DeviceNotificationRecord> DeviceNotificationRegistrations();
// Called on the registering thread, outside the simulator's lock, after each successful
// registration: the place to hold onStart while a control is delivered.
void SetDeviceNotificationHook(std::function<void(HDEVNOTIFY)> hook);

// --- Power --------------------------------------------------------------------------------
struct PowerNotificationRecord {
    HPOWERNOTIFY handle = nullptr;
    HANDLE recipient = nullptr;
    GUID setting{};
    bool live = false; // not yet unregistered
};
// Every successful RegisterPowerSettingNotification since Reset, in order.
std::vector<PowerNotificationRecord> PowerNotificationRegistrations();
// Whether CallNtPowerInformation reports SYSTEM_POWER_CAPABILITIES.AoAc; false after Reset.
void SetModernStandby(bool present);
// The console display state (0 off, 1 on, 2 dimmed; 1 after Reset). A change is sent, as Windows
// sends it, to every live registration for it: a power-setting event, queued like any control.
// A registration is sent the current state at once.
void SetDisplayState(DWORD state);

} // namespace sim
