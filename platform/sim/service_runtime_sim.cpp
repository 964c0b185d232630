// Simulator face only: the service process's side of the SCM (dispatcher, control handler,
// status reports), the event log and device notification, after the documented Win32 behaviour
// and Wine's sechost and user32 where the documentation is silent. Service code (service-main,
// the handler, hooks) always runs outside the simulator's lock: it re-enters from other threads.
#include "platform/device_notification.h"
#include "platform/event_log.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/sim/core.h"
#include "platform/sim/service_runtime_control.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

constexpr DWORD kErrorServiceAlreadyRunning = 1056;
constexpr DWORD kRpcServerUnavailable = 1722;
constexpr DWORD kDbtDevtypHandle = 6;
constexpr DWORD kBroadcastHeaderSize = 12; // DEV_BROADCAST_HDR
constexpr std::uintptr_t kHandleStep = 4;

// One start of the service by the played SCM, from the dispatcher call to its return.
struct Session {
    bool active = false;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    LPHANDLER_FUNCTION_EX handler = nullptr;
    LPVOID context = nullptr;
    bool startPendingLeft = false;
    bool stopped = false;
    bool serviceMainReturned = false;
};

struct Runtime {
    bool scmPlaying = false;
    std::vector<std::wstring> extraStartArguments;
    std::deque<sim::ServiceControl> queue;
    Session session;
    int delivered = 0;
    std::vector<SERVICE_STATUS> statuses;
    std::uintptr_t nextStatusHandle = 0x5d000;
    std::map<std::uintptr_t, std::wstring> eventSources;
    std::uintptr_t nextEventSource = 0x5e000;
    std::vector<sim::ReportedEvent> events;
    std::vector<sim::DeviceNotificationRecord> notifications;
    std::uintptr_t nextNotification = 0x5f000;
    std::function<void(HDEVNOTIFY)> notificationHook;
    std::vector<sim::PowerNotificationRecord> powerNotifications;
    std::uintptr_t nextPowerNotification = 0x5c000;
    DWORD displayState = 1; // on
    bool modernStandby = false;
    // The records of power-setting events the played SCM sent, alive until Reset like the SCM's.
    std::deque<std::vector<BYTE>> powerSettingRecords;
    std::uint64_t sessionNumber = 0;
    int serviceMainsRunning = 0; // may outlive their dispatcher, as on Windows
};

Runtime& Rt() {
    static Runtime* runtime = new Runtime(); // never destroyed: see core.cpp
    return *runtime;
}

// Signalled whenever a session's progress may let a waiter go on.
std::condition_variable_any& Changed() {
    static std::condition_variable_any* changed = new std::condition_variable_any();
    return *changed;
}

using Lock = std::unique_lock<std::recursive_mutex>;

unsigned long long Bits(const void* handle) {
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle));
}

template <typename Result> Result Fail(DWORD code, Result result) {
    SetLastError(code);
    return result;
}

// The played SCM's side of a session: hands each deliverable control to the handler until the
// service has stopped or nothing more can happen.
void DeliverControls() {
    Lock lock(sim::core::Mutex());
    Runtime& rt = Rt();
    for (;;) {
        Session& session = rt.session;
        if (session.stopped) {
            return;
        }
        if (session.handler != nullptr) {
            const auto next = std::find_if(rt.queue.begin(), rt.queue.end(), [&](const auto& c) {
                return c.whileStartPending || session.startPendingLeft;
            });
            if (next != rt.queue.end()) {
                sim::ServiceControl control = std::move(*next);
                rt.queue.erase(next);
                const LPHANDLER_FUNCTION_EX handler = session.handler;
                const LPVOID context = session.context;
                lock.unlock();
                if (control.beforeDelivery) {
                    control.beforeDelivery();
                }
                handler(control.control, control.eventType, control.eventData, context);
                lock.lock();
                ++rt.delivered;
                Changed().notify_all();
                continue;
            }
        }
        if (session.serviceMainReturned) {
            return;
        }
        Changed().wait(lock);
    }
}

} // namespace

// --- Service control manager, runtime side ------------------------------------------------

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable) {
    const bool tableNamed =
        lpServiceStartTable != nullptr && lpServiceStartTable[0].lpServiceName != nullptr;
    if (const DWORD fault = sim::core::Enter(
            "StartServiceCtrlDispatcherW", ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "%s",
            sim::core::Narrow(tableNamed ? lpServiceStartTable[0].lpServiceName : nullptr)
                .c_str())) {
        return Fail(fault, FALSE);
    }
    Lock lock(sim::core::Mutex());
    Runtime& rt = Rt();
    // A service-main that the last dispatcher left running ends before a new session begins.
    Changed().wait(lock, [&] { return rt.serviceMainsRunning == 0; });
    if (rt.session.active) {
        return Fail(kErrorServiceAlreadyRunning, FALSE);
    }
    if (!tableNamed || lpServiceStartTable[0].lpServiceProc == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (!rt.scmPlaying) {
        return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, FALSE);
    }
    rt.scmPlaying = false;
    rt.session = Session{};
    rt.session.active = true;
    rt.session.statusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(rt.nextStatusHandle);
    rt.nextStatusHandle += kHandleStep;
    const std::uint64_t sessionNumber = ++rt.sessionNumber;
    std::vector<std::wstring> arguments{lpServiceStartTable[0].lpServiceName};
    arguments.insert(arguments.end(), rt.extraStartArguments.begin(), rt.extraStartArguments.end());
    const LPSERVICE_MAIN_FUNCTIONW serviceMain = lpServiceStartTable[0].lpServiceProc;
    try {
        // Detached and owning its arguments: as on Windows, the dispatcher returns once the
        // service has reported SERVICE_STOPPED, whether or not service-main has returned. The
        // count lets the next dispatcher and Reset wait for it instead of a join.
        std::thread([serviceMain, sessionNumber, arguments = std::move(arguments)]() mutable {
            std::vector<LPWSTR> argv;
            for (std::wstring& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            serviceMain(static_cast<DWORD>(arguments.size()), argv.data());
            Lock done(sim::core::Mutex());
            Runtime& runtime = Rt();
            --runtime.serviceMainsRunning;
            if (runtime.sessionNumber == sessionNumber) {
                runtime.session.serviceMainReturned = true;
            }
            Changed().notify_all();
        }).detach();
    } catch (const std::system_error&) {
        rt.session.active = false;
        return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    }
    ++rt.serviceMainsRunning;
    lock.unlock();
    DeliverControls();

    lock.lock();
    rt.session.active = false;
    rt.queue.clear();
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName,
                                                    LPHANDLER_FUNCTION_EX lpHandlerProc,
                                                    LPVOID lpContext) {
    if (const DWORD fault =
            sim::core::Enter("RegisterServiceCtrlHandlerExW", ERROR_NOT_ENOUGH_MEMORY, "%s, %#llx",
                             sim::core::Narrow(lpServiceName).c_str(), Bits(lpContext))) {
        return Fail(fault, SERVICE_STATUS_HANDLE{});
    }
    Lock lock(sim::core::Mutex());
    Session& session = Rt().session;
    // An own-process service's name is not checked: the process runs only that one.
    if (!session.active) {
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST, SERVICE_STATUS_HANDLE{});
    }
    if (lpHandlerProc == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, SERVICE_STATUS_HANDLE{});
    }
    session.handler = lpHandlerProc;
    session.context = lpContext;
    Changed().notify_all();
    return session.statusHandle;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
    SERVICE_STATUS shown{};
    if (lpServiceStatus != nullptr) {
        shown = *lpServiceStatus;
    }
    if (const DWORD fault = sim::core::Enter(
            "SetServiceStatus", ERROR_INVALID_HANDLE, "%#llx, %#x %u %#x %u %u %u %u",
            Bits(hServiceStatus), shown.dwServiceType, shown.dwCurrentState,
            shown.dwControlsAccepted, shown.dwWin32ExitCode, shown.dwServiceSpecificExitCode,
            shown.dwCheckPoint, shown.dwWaitHint)) {
        return Fail(fault, FALSE);
    }
    Lock lock(sim::core::Mutex());
    Runtime& rt = Rt();
    if (!rt.session.active || hServiceStatus == nullptr ||
        hServiceStatus != rt.session.statusHandle) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (lpServiceStatus == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (shown.dwCurrentState < SERVICE_STOPPED || shown.dwCurrentState > SERVICE_PAUSED) {
        return Fail(ERROR_INVALID_DATA, FALSE);
    }
    rt.statuses.push_back(shown);
    if (shown.dwCurrentState != SERVICE_START_PENDING) {
        rt.session.startPendingLeft = true;
    }
    if (shown.dwCurrentState == SERVICE_STOPPED) {
        rt.session.stopped = true;
    }
    Changed().notify_all();
    return TRUE;
}

// --- Event log ----------------------------------------------------------------------------

namespace {

// The ANSI code page is simulated as Latin-1: each byte widens to the character of that number.
std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text != '\0'; ++text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    }
    return wide;
}

HANDLE RegisterEventSource(const char* op, const WCHAR* server, const WCHAR* source) {
    if (const DWORD fault =
            sim::core::Enter(op, ERROR_ACCESS_DENIED, "%s, %s", sim::core::Narrow(server).c_str(),
                             sim::core::Narrow(source).c_str())) {
        return Fail(fault, HANDLE{});
    }
    // No other machine is reachable from the simulated one.
    if (server != nullptr && server[0] != 0) {
        return Fail(kRpcServerUnavailable, HANDLE{});
    }
    if (source == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, HANDLE{});
    }
    Lock lock(sim::core::Mutex());
    Runtime& rt = Rt();
    const std::uintptr_t handle = rt.nextEventSource;
    rt.nextEventSource += kHandleStep;
    rt.eventSources[handle] = source;
    sim::core::HandleOpened(sim::HandleKind::EventSource);
    return reinterpret_cast<HANDLE>(handle);
}

// Both variants after their strings are wide; a null string among them is refused.
BOOL ReportEvent(const char* op, HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                 PSID lpUserSid, WORD wNumStrings, DWORD dwDataSize,
                 const std::vector<const void*>& strings, bool wide, LPVOID lpRawData) {
    if (const DWORD fault = sim::core::Enter(
            op, ERROR_INVALID_PARAMETER, "%#llx, %u, %u, %u, %u strings, %u bytes", Bits(hEventLog),
            static_cast<unsigned>(wType), static_cast<unsigned>(wCategory), dwEventID,
            static_cast<unsigned>(wNumStrings), dwDataSize)) {
        return Fail(fault, FALSE);
    }
    Lock lock(sim::core::Mutex());
    Runtime& rt = Rt();
    const auto source = rt.eventSources.find(reinterpret_cast<std::uintptr_t>(hEventLog));
    if (source == rt.eventSources.end()) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    constexpr WORD kAuditSuccess = 0x0008;
    constexpr WORD kAuditFailure = 0x0010;
    const bool knownType = wType == EVENTLOG_SUCCESS || wType == EVENTLOG_ERROR_TYPE ||
                           wType == EVENTLOG_WARNING_TYPE || wType == EVENTLOG_INFORMATION_TYPE ||
                           wType == kAuditSuccess || wType == kAuditFailure;
    if (!knownType || (dwDataSize > 0 && lpRawData == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    sim::ReportedEvent event;
    event.source = source->second;
    event.type = wType;
    event.category = wCategory;
    event.eventId = dwEventID;
    event.userSid = lpUserSid != nullptr;
    for (const void* text : strings) {
        if (text == nullptr) {
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        }
        event.strings.push_back(wide ? std::wstring(static_cast<const WCHAR*>(text))
                                     : Widen(static_cast<const char*>(text)));
    }
    event.rawDataSize = dwDataSize;
    rt.events.push_back(std::move(event));
    return TRUE;
}

template <typename Text> std::vector<const void*> Strings(WORD count, Text* const* strings) {
    std::vector<const void*> list;
    for (WORD i = 0; strings != nullptr && i < count; ++i) {
        list.push_back(strings[i]);
    }
    if (strings == nullptr && count > 0) {
        list.push_back(nullptr); // refused like a null string
    }
    return list;
}

} // namespace

HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName) {
    return RegisterEventSource("RegisterEventSourceW", lpUNCServerName, lpSourceName);
}

HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
    const std::wstring server = lpUNCServerName != nullptr ? Widen(lpUNCServerName) : L"";
    const std::wstring source = lpSourceName != nullptr ? Widen(lpSourceName) : L"";
    return RegisterEventSource("RegisterEventSourceA",
                               lpUNCServerName != nullptr ? server.c_str() : nullptr,
                               lpSourceName != nullptr ? source.c_str() : nullptr);
}

BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                  WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData) {
    return ReportEvent("ReportEventW", hEventLog, wType, wCategory, dwEventID, lpUserSid,
                       wNumStrings, dwDataSize, Strings(wNumStrings, lpStrings), true, lpRawData);
}

BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                  WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, LPVOID lpRawData) {
    return ReportEvent("ReportEventA", hEventLog, wType, wCategory, dwEventID, lpUserSid,
                       wNumStrings, dwDataSize, Strings(wNumStrings, lpStrings), false, lpRawData);
}

BOOL DeregisterEventSource(HANDLE hEventLog) {
    if (const DWORD fault =
            sim::core::Enter("DeregisterEventSource", 0, "%#llx", Bits(hEventLog))) {
        return Fail(fault, FALSE);
    }
    Lock lock(sim::core::Mutex());
    if (Rt().eventSources.erase(reinterpret_cast<std::uintptr_t>(hEventLog)) == 0) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    sim::core::HandleClosed(sim::HandleKind::EventSource);
    return TRUE;
}

// --- Device notification ------------------------------------------------------------------

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags) {
    DWORD filterSize = 0;
    DWORD filterType = 0;
    if (NotificationFilter != nullptr) {
        std::memcpy(&filterSize, NotificationFilter, sizeof filterSize);
        std::memcpy(&filterType, static_cast<const BYTE*>(NotificationFilter) + sizeof filterSize,
                    sizeof filterType);
    }
    if (const DWORD fault = sim::core::Enter("RegisterDeviceNotificationW", ERROR_NOT_ENOUGH_MEMORY,
                                             "%#llx, %u %u, %#x", Bits(hRecipient), filterSize,
                                             filterType, Flags)) {
        return Fail(fault, HDEVNOTIFY{});
    }
    // No windows exist in the simulation, so only a service can be a recipient.
    if ((Flags & ~static_cast<DWORD>(DEVICE_NOTIFY_SERVICE_HANDLE |
                                     DEVICE_NOTIFY_ALL_INTERFACE_CLASSES)) != 0 ||
        (Flags & DEVICE_NOTIFY_SERVICE_HANDLE) == 0) {
        return Fail(ERROR_INVALID_PARAMETER, HDEVNOTIFY{});
    }
    // A record shorter than its type's, a device-interface record's 32 bytes included, is
    // refused as Windows refuses it.
    if (NotificationFilter != nullptr &&
        ((filterType != DBT_DEVTYP_DEVICEINTERFACE && filterType != kDbtDevtypHandle) ||
         filterSize < kBroadcastHeaderSize ||
         (filterType == DBT_DEVTYP_DEVICEINTERFACE &&
          filterSize < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)))) {
        return Fail(ERROR_INVALID_DATA, HDEVNOTIFY{});
    }
    Lock lock(sim::core::Mutex());
    Runtime& rt = Rt();
    if (!rt.session.active || hRecipient == nullptr ||
        hRecipient != static_cast<HANDLE>(rt.session.statusHandle)) {
        return Fail(ERROR_INVALID_HANDLE, HDEVNOTIFY{});
    }
    sim::DeviceNotificationRecord record;
    record.handle = reinterpret_cast<HDEVNOTIFY>(rt.nextNotification);
    rt.nextNotification += kHandleStep;
    record.recipient = hRecipient;
    record.flags = Flags;
    if (NotificationFilter != nullptr) {
        const auto* bytes = static_cast<const BYTE*>(NotificationFilter);
        record.filter.assign(bytes, bytes + filterSize);
    }
    record.live = true;
    rt.notifications.push_back(record);
    sim::core::HandleOpened(sim::HandleKind::DeviceNotification);
    const std::function<void(HDEVNOTIFY)> hook = rt.notificationHook;
    lock.unlock();
    if (hook) {
        hook(record.handle);
    }
    return record.handle;
}

namespace {

// Either kind of notification ends alike: a live registration once, anything else refused.
template <typename Record, typename Handle>
BOOL Unregister(const char* op, std::vector<Record> Runtime::*records, Handle handle,
                sim::HandleKind kind) {
    if (const DWORD fault = sim::core::Enter(op, 0, "%#llx", Bits(handle))) {
        return Fail(fault, FALSE);
    }
    Lock lock(sim::core::Mutex());
    for (Record& record : Rt().*records) {
        if (record.live && record.handle == handle) {
            record.live = false;
            sim::core::HandleClosed(kind);
            return TRUE;
        }
    }
    return Fail(ERROR_INVALID_HANDLE, FALSE);
}

} // namespace

BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) {
    return Unregister("UnregisterDeviceNotification", &Runtime::notifications, Handle,
                      sim::HandleKind::DeviceNotification);
}

// --- Power ----------------------------------------------------------------------------------

namespace {

// Queues what Windows sends a registration of the console display state: a power event whose
// record holds the state. Called under the lock.
void SendDisplayState(Runtime& rt) {
    std::vector<BYTE> record(power_setting::kSettingDataOffset + sizeof(DWORD));
    const DWORD length = sizeof(DWORD);
    std::memcpy(record.data(), &power_setting::kConsoleDisplayState, sizeof(GUID));
    std::memcpy(record.data() + offsetof(POWERBROADCAST_SETTING, DataLength), &length,
                sizeof length);
    std::memcpy(record.data() + power_setting::kSettingDataOffset, &rt.displayState,
                sizeof rt.displayState);
    rt.powerSettingRecords.push_back(std::move(record));
    sim::ServiceControl control;
    control.control = SERVICE_CONTROL_POWEREVENT;
    control.eventType = PBT_POWERSETTINGCHANGE;
    control.eventData = rt.powerSettingRecords.back().data();
    // Sent at once, so it can reach the handler while the service is still starting.
    control.whileStartPending = true;
    rt.queue.push_back(std::move(control));
    Changed().notify_all();
}

} // namespace

HPOWERNOTIFY RegisterPowerSettingNotification(HANDLE hRecipient, LPCGUID PowerSettingGuid,
                                              DWORD Flags) {
    if (const DWORD fault =
            sim::core::Enter("RegisterPowerSettingNotification", ERROR_NOT_ENOUGH_MEMORY,
                             "%#llx, %s, %#x", Bits(hRecipient),
                             PowerSettingGuid == nullptr ? "(null)"
                             : IsEqualGUID(*PowerSettingGuid, power_setting::kConsoleDisplayState)
                                 ? "GUID_CONSOLE_DISPLAY_STATE"
                                 : "another setting",
                             Flags)) {
        return Fail(fault, HPOWERNOTIFY{});
    }
    // No windows exist in the simulation, so only a service can be a recipient.
    if (Flags != DEVICE_NOTIFY_SERVICE_HANDLE || PowerSettingGuid == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, HPOWERNOTIFY{});
    }
    Lock lock(sim::core::Mutex());
    Runtime& rt = Rt();
    if (!rt.session.active || hRecipient == nullptr ||
        hRecipient != static_cast<HANDLE>(rt.session.statusHandle)) {
        return Fail(ERROR_INVALID_HANDLE, HPOWERNOTIFY{});
    }
    sim::PowerNotificationRecord record;
    record.handle = reinterpret_cast<HPOWERNOTIFY>(rt.nextPowerNotification);
    rt.nextPowerNotification += kHandleStep;
    record.recipient = hRecipient;
    record.setting = *PowerSettingGuid;
    record.live = true;
    rt.powerNotifications.push_back(record);
    sim::core::HandleOpened(sim::HandleKind::PowerNotification);
    // Documented: the current value is sent right after registering.
    if (IsEqualGUID(record.setting, power_setting::kConsoleDisplayState)) {
        SendDisplayState(rt);
    }
    return record.handle;
}

BOOL UnregisterPowerSettingNotification(HPOWERNOTIFY Handle) {
    return Unregister("UnregisterPowerSettingNotification", &Runtime::powerNotifications, Handle,
                      sim::HandleKind::PowerNotification);
}

NTSTATUS CallNtPowerInformation(POWER_INFORMATION_LEVEL InformationLevel, PVOID InputBuffer,
                                ULONG InputBufferLength, PVOID OutputBuffer,
                                ULONG OutputBufferLength) {
    constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000Du);
    if (const DWORD fault =
            sim::core::Enter("CallNtPowerInformation", static_cast<DWORD>(STATUS_ACCESS_DENIED),
                             "%d, %s, %u, %s, %u", static_cast<int>(InformationLevel),
                             InputBuffer == nullptr ? "(null)" : "buffer", InputBufferLength,
                             OutputBuffer == nullptr ? "(null)" : "buffer", OutputBufferLength)) {
        return static_cast<NTSTATUS>(fault);
    }
    // The one level hingeflow reads; it takes no input.
    if (InformationLevel != SystemPowerCapabilities || InputBuffer != nullptr ||
        InputBufferLength != 0) {
        return kInvalidParameter;
    }
    if (OutputBuffer == nullptr || OutputBufferLength < sizeof(SYSTEM_POWER_CAPABILITIES)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    Lock lock(sim::core::Mutex());
    SYSTEM_POWER_CAPABILITIES capabilities{};
    capabilities.PowerButtonPresent = TRUE;
    capabilities.LidPresent = TRUE;
    capabilities.SystemS4 = TRUE;
    capabilities.SystemS5 = TRUE;
    capabilities.VideoDimPresent = TRUE;
    capabilities.AoAc = Rt().modernStandby ? TRUE : FALSE;
    // Modern Standby replaces S3.
    capabilities.SystemS3 = Rt().modernStandby ? FALSE : TRUE;
    capabilities.SystemBatteriesPresent = TRUE;
    std::memcpy(OutputBuffer, &capabilities, sizeof capabilities);
    return STATUS_SUCCESS;
}

// --- Test controls ------------------------------------------------------------------------

namespace sim {

void PlayScm(std::vector<ServiceControl> controls, std::vector<std::wstring> extraStartArguments) {
    Lock lock(core::Mutex());
    Runtime& rt = Rt();
    rt.scmPlaying = true;
    rt.extraStartArguments = std::move(extraStartArguments);
    for (ServiceControl& control : controls) {
        rt.queue.push_back(std::move(control));
    }
}

void SendServiceControl(ServiceControl control) {
    Lock lock(core::Mutex());
    Rt().queue.push_back(std::move(control));
    Changed().notify_all();
}

int ServiceControlsDelivered() {
    Lock lock(core::Mutex());
    return Rt().delivered;
}

bool WaitForServiceControlsDelivered(int count) {
    Lock lock(core::Mutex());
    return Changed().wait_for(lock, std::chrono::seconds(10),
                              [&] { return Rt().delivered >= count; });
}

bool WaitForServiceMainToReturn() {
    Lock lock(core::Mutex());
    return Changed().wait_for(lock, std::chrono::seconds(10),
                              [] { return Rt().serviceMainsRunning == 0; });
}

std::vector<SERVICE_STATUS> ReportedStatuses() {
    Lock lock(core::Mutex());
    return Rt().statuses;
}

std::vector<DWORD> ReportedStates() {
    Lock lock(core::Mutex());
    std::vector<DWORD> states;
    for (const SERVICE_STATUS& status : Rt().statuses) {
        states.push_back(status.dwCurrentState);
    }
    return states;
}

std::vector<ReportedEvent> ReportedEvents() {
    Lock lock(core::Mutex());
    return Rt().events;
}

std::vector<DeviceNotificationRecord> DeviceNotificationRegistrations() {
    Lock lock(core::Mutex());
    return Rt().notifications;
}

std::vector<PowerNotificationRecord> PowerNotificationRegistrations() {
    Lock lock(core::Mutex());
    return Rt().powerNotifications;
}

void SetModernStandby(bool present) {
    Lock lock(core::Mutex());
    Rt().modernStandby = present;
}

void SetDisplayState(DWORD state) {
    Lock lock(core::Mutex());
    Runtime& rt = Rt();
    if (rt.displayState == state) {
        return;
    }
    rt.displayState = state;
    for (const PowerNotificationRecord& record : rt.powerNotifications) {
        if (record.live && IsEqualGUID(record.setting, power_setting::kConsoleDisplayState)) {
            SendDisplayState(rt);
        }
    }
}

void SetDeviceNotificationHook(std::function<void(HDEVNOTIFY)> hook) {
    Lock lock(core::Mutex());
    Rt().notificationHook = std::move(hook);
}

namespace core {
void ResetServiceRuntime() {
    Lock lock(Mutex());
    Changed().wait(lock, [] { return Rt().serviceMainsRunning == 0; });
    Rt() = Runtime{};
}
} // namespace core

} // namespace sim
