// The concrete service. OnDeviceEvent and onPowerEvent may run while onStart is still running
// on the other thread, so they touch only the decider, which is ready before the first
// registration, and the display state, which only they use.
#include "trigger/hingeflow_service.h"

#include "config/diagnostic_log.h"
#include "config/event_messages.h"
#include "platform/device_interface_classes.h"
#include "platform/event_log.h"
#include "platform/power.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>

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

constexpr DWORD kDisplayOff = 0;
constexpr DWORD kDisplayDimmed = 2;

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
        const DWORD error = GetLastError();
        LogError("RegisterDeviceNotification failed");
        SetLastError(error);
        return false;
    }
    return true;
}

HDEVNOTIFY HingeflowService::DeviceNotify() const {
    const std::lock_guard<std::mutex> lock(registrationLock);
    return deviceNotify.get();
}

HPOWERNOTIFY HingeflowService::DisplayNotify() const {
    const std::lock_guard<std::mutex> lock(registrationLock);
    return displayNotify.get();
}

bool HingeflowService::StartDecider() {
    if (decider.Start()) {
        return true;
    }
    const DWORD error = GetLastError();
    LogError("the decider could not start: %d", static_cast<int>(error));
    SetLastError(error);
    return false;
}

bool HingeflowService::WaitUntilDecided(DWORD timeoutMs) {
    return decider.WaitUntilDecided(timeoutMs);
}

void HingeflowService::ReportToEventLog(WORD type, DWORD eventId, const std::wstring& what,
                                        DWORD error) const {
    UniqueEventSource source(RegisterEventSourceW(nullptr, serviceName.c_str()));
    if (!source) {
        return;
    }
    const std::wstring code = std::to_wstring(error);
    LPCWSTR strings[] = {serviceName.c_str(), what.c_str(), code.c_str()};
    ReportEventW(source.get(), type, event_message::kCategoryService, eventId, nullptr, 3, 0,
                 strings, nullptr);
}

// The registration call itself runs outside the lock: a device event may be delivered, and a
// stop handled, before it returns. A registration that a stop overtook is released at once.
HingeflowService::Registration HingeflowService::Register(UniqueDeviceNotification& slot,
                                                          DeviceKind kind) {
    UniqueDeviceNotification held;
    {
        const std::lock_guard<std::mutex> lock(registrationLock);
        if (stopped) {
            return Registration::Overtaken;
        }
        held = std::move(slot);
    }
    const bool registered =
        RegisterDeviceInterfaceNotification(statusHandle, held, GetDeviceInterfaceGuid(kind));
    const DWORD error = GetLastError();
    const std::lock_guard<std::mutex> lock(registrationLock);
    // cppcheck-suppress knownConditionTrueFalse ; the control thread may have set it meanwhile
    if (stopped) {
        return Registration::Overtaken;
    }
    slot = std::move(held);
    SetLastError(error);
    return registered ? Registration::Held : Registration::Refused;
}

// Under Modern Standby a resume comes only when the machine really slept; the screen coming back
// is the moment the user picks the machine up again.
void HingeflowService::WatchDisplayState() {
    SYSTEM_POWER_CAPABILITIES capabilities{};
    // An NTSTATUS, which only the driver kit's headers name: 0 is success.
    const LONG status = CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, &capabilities,
                                               sizeof capabilities);
    if (status != 0) {
        LogError("display state not watched: CallNtPowerInformation failed: %#x",
                 static_cast<unsigned>(status));
        return;
    }
    if (!power_setting::HasModernStandby(capabilities)) {
        LogVerbose("display state not watched: no Modern Standby");
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(registrationLock);
        if (stopped) {
            return;
        }
    }
    UniquePowerNotification held(RegisterPowerSettingNotification(
        statusHandle, &power_setting::kConsoleDisplayState, DEVICE_NOTIFY_SERVICE_HANDLE));
    if (!held) {
        LogError("RegisterPowerSettingNotification failed: %d", static_cast<int>(GetLastError()));
        return;
    }
    const std::lock_guard<std::mutex> lock(registrationLock);
    // cppcheck-suppress knownConditionTrueFalse ; the control thread may have set it meanwhile
    if (!stopped) {
        displayNotify = std::move(held);
    }
}

// A USB device's event may come before its keyboard can be counted; a keyboard or mouse
// interface is enabled only once its driver has started, so its own arrival is the moment the
// census is sure to see it, however late that is and whatever bus it came on. The start itself
// is decided too: Windows sends no arrival for what is attached already.
void HingeflowService::onStart(DWORD /*argc*/, LPWSTR* /*argv*/) {
    LogVerbose("HingeflowService onStart");
    if (!StartDecider()) {
        const DWORD error = GetLastError();
        ReportToEventLog(EVENTLOG_ERROR_TYPE, event_message::kCannotWatchDevices,
                         L"the thread that decides could not start", error);
        FailStart(kExitNoDecider);
        return;
    }
    const struct {
        UniqueDeviceNotification& slot;
        DeviceKind kind;
        const wchar_t* what;
    } watches[] = {{deviceNotify, kUsbDeviceKind, L"USB devices"},
                   {keyboardNotify, kKeyboardKind, L"keyboards"},
                   {mouseNotify, kMouseKind, L"mice"}};
    std::wstring refused;
    DWORD error = ERROR_SUCCESS;
    int held = 0;
    for (const auto& watch : watches) {
        switch (Register(watch.slot, watch.kind)) {
        case Registration::Held:
            ++held;
            break;
        case Registration::Refused:
            error = GetLastError();
            refused += (refused.empty() ? L"" : L", ") + std::wstring(watch.what);
            break;
        case Registration::Overtaken:
            return;
        }
    }
    if (held == 0) {
        // Reported as success, the service would never switch again and nothing would say so.
        LogError("cannot watch devices: %d", static_cast<int>(error));
        ReportToEventLog(EVENTLOG_ERROR_TYPE, event_message::kCannotWatchDevices,
                         L"Windows refused every device notification registration", error);
        decider.Stop();
        FailStart(kExitCannotWatchDevices);
        return;
    }
    if (!refused.empty()) {
        ReportToEventLog(EVENTLOG_WARNING_TYPE, event_message::kDevicesWatchedInPart, refused,
                         error);
    }
    WatchDisplayState();
    decider.Post(DecisionEvent::Start);
}

void HingeflowService::OnStop() {
    LogVerbose("HingeflowService OnStop");
    UniqueDeviceNotification usb;
    UniqueDeviceNotification keyboard;
    UniqueDeviceNotification mouse;
    UniquePowerNotification display;
    {
        const std::lock_guard<std::mutex> lock(registrationLock);
        stopped = true;
        usb = std::move(deviceNotify);
        keyboard = std::move(keyboardNotify);
        mouse = std::move(mouseNotify);
        display = std::move(displayNotify);
    }
    // Before the frame reports STOPPED: nothing is written after it.
    decider.Stop();
    usb.reset();
    keyboard.reset();
    mouse.reset();
    display.reset();
}

void HingeflowService::OnShutdown() {
    LogVerbose("HingeflowService OnShutdown");
    decider.Stop();
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
            decider.Post(DecisionEvent::InputArrival);
            break;
        }
        LogVerbose("DBT_DEVICEARRIVAL");
        LogVerbose("event type: %d", static_cast<int>(eventType));
        decider.Post(DecisionEvent::UsbArrival);
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        if (const char* inputClass = InputClassOf(eventData)) {
            LogVerbose("DBT_DEVICEREMOVECOMPLETE: %s interface", inputClass);
        } else {
            LogVerbose("DBT_DEVICEREMOVECOMPLETE");
            LogVerbose("event type: %d", static_cast<int>(eventType));
        }
        decider.Post(DecisionEvent::Removal);
        break;
    default:
        LogVerbose("SERVICE_CONTROL_DEVICEEVENT unhandled: %04x", static_cast<unsigned>(eventType));
        break;
    }
}

void HingeflowService::onPowerEvent(DWORD eventType, LPVOID eventData) {
    LogVerbose("onPowerEvent: %d", static_cast<int>(eventType));
    if (eventType == PBT_APMRESUMEAUTOMATIC) {
        decider.Post(DecisionEvent::Resume);
    } else if (eventType == PBT_POWERSETTINGCHANGE) {
        OnPowerSettingChange(eventData);
    }
}

// The record is a POWERBROADCAST_SETTING: the setting's GUID, DataLength, then that many bytes.
// Each field is read only once the ones before it say it is there.
void HingeflowService::OnPowerSettingChange(LPVOID eventData) {
    if (eventData == nullptr) {
        LogVerbose("power setting ignored: no record");
        return;
    }
    const auto* record = static_cast<const BYTE*>(eventData);
    GUID setting{};
    std::memcpy(&setting, record, sizeof setting);
    if (!IsEqualGUID(setting, power_setting::kConsoleDisplayState)) {
        LogVerbose("power setting ignored: not the console display state");
        return;
    }
    DWORD length = 0;
    std::memcpy(&length, record + offsetof(POWERBROADCAST_SETTING, DataLength), sizeof length);
    if (length != sizeof(DWORD)) {
        LogVerbose("power setting ignored: %u bytes of data, not 4", static_cast<unsigned>(length));
        return;
    }
    DWORD state = 0;
    std::memcpy(&state, record + power_setting::kSettingDataOffset, sizeof state);
    if (state > kDisplayDimmed) {
        LogVerbose("power setting ignored: display state %u", static_cast<unsigned>(state));
        return;
    }
    LogVerbose("console display state: %u", static_cast<unsigned>(state));
    // The first notification, sent at registration, only tells the state; on and dimmed are the
    // same screen, a little darker.
    const bool wake = displayState == kDisplayOff && state != kDisplayOff;
    displayState = state;
    if (wake) {
        LogVerbose("display wake");
        decider.Post(DecisionEvent::DisplayWake);
    }
}
