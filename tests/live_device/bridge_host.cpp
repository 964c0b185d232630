// hingeflow's service code under Wine's SCM, with a bridge for the one hop Wine leaves out. Wine
// matches a device event against a service-handle registration and then drops it; a message-only
// window registered for the same classes does receive it. So beside HingeflowService's own
// registrations this host keeps such a window, and hands each event to the frame's ControlHandler
// as SERVICE_CONTROL_DEVICEEVENT through the SCM: a user-defined control that the SCM delivers on
// the service's control thread, one at a time with stop and shutdown, as it would the event.
// Power events cannot be made under Wine at all, so the host also takes user-defined controls that
// stand for them (see kBridgedResume), which a test sends with test_keyboard_plug.
// A test and demo program only; `install` and `uninstall` are the product's own roles.
#include "config/diagnostic_log.h"
#include "platform/power.h"
#include "platform/unique_handle.h"
#include "service/entry.h"
#include "service/redirection_guard.h"
#include "trigger/hingeflow_service.h"
#include "trigger/input_census.h"
#include "trigger/slate_mode.h"

#include <cstddef>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

namespace {

[[maybe_unused]] const bool g_logInitialised = (EnableRedirectionGuard(), InitLog(), true);

constexpr DWORD kBridgedDeviceEvent = 200;
// An automatic resume, and the console display state off (202), on (203) or dimmed (204), each
// handed to the frame's ControlHandler as the power event Windows would send.
constexpr DWORD kBridgedResume = 201;
constexpr DWORD kBridgedDisplayState = 202;
// A device-interface record holds a device path, far below this.
constexpr DWORD kMaxRecordSize = 4096;

struct DeviceEvent {
    DWORD type;
    std::vector<BYTE> record;
};

// The event the window thread is handing over; ControlService returns only after the handler
// has run, so there is never more than one.
std::mutex g_pendingLock;
std::optional<DeviceEvent> g_pending;

void HandOver(SC_HANDLE service, DWORD type, const DEV_BROADCAST_HDR& header) {
    if (header.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header.dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ||
        header.dbch_size > kMaxRecordSize) {
        return;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(&header);
    {
        std::lock_guard<std::mutex> lock(g_pendingLock);
        g_pending = DeviceEvent{type, std::vector<BYTE>(bytes, bytes + header.dbch_size)};
    }
    SERVICE_STATUS status{};
    ControlService(service, kBridgedDeviceEvent, &status);
    std::lock_guard<std::mutex> lock(g_pendingLock);
    g_pending.reset();
}

LRESULT CALLBACK BridgeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && lParam != 0) {
        try {
            auto service = reinterpret_cast<SC_HANDLE>(GetWindowLongPtrW(window, GWLP_USERDATA));
            HandOver(service, static_cast<DWORD>(wParam),
                     *reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
        } catch (...) {
            // Out of memory: this one event is lost.
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class BridgedService : public HingeflowService {
public:
    void onStart(DWORD argc, LPWSTR* argv) override {
        HingeflowService::onStart(argc, argv);
        // Replaces the frame's handler on the same status handle; every other control still goes
        // to the frame unchanged.
        if (RegisterServiceCtrlHandlerExW(serviceName.c_str(), &BridgedService::Handler, nullptr) ==
            nullptr) {
            LogError("bridge: RegisterServiceCtrlHandlerExW failed");
        }
        ready_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        bridge_.reset(CreateThread(nullptr, 0, &BridgedService::RunBridge, this, 0, &bridgeId_));
        // Running is reported only once the window listens, so an event after `net start` is
        // never missed.
        const HANDLE started[] = {ready_.get(), bridge_.get()};
        if (bridge_) {
            WaitForMultipleObjects(2, started, FALSE, kBridgeTimeoutMs);
        }
    }

    void OnStop() override {
        HingeflowService::OnStop();
        PostThreadMessageW(bridgeId_, WM_QUIT, 0, 0);
    }

    // After the dispatcher has returned. The stop never waits for the window thread: that thread
    // may itself be waiting in ControlService for the stop to end.
    void EndBridge() {
        if (bridge_) {
            PostThreadMessageW(bridgeId_, WM_QUIT, 0, 0);
            WaitForSingleObject(bridge_.get(), kBridgeTimeoutMs);
        }
    }

private:
    static constexpr DWORD kBridgeTimeoutMs = 10000;

    static DWORD WINAPI Handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
        if (control == kBridgedResume) {
            return ServiceBase::ControlHandler(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC,
                                               nullptr, context);
        }
        if (control >= kBridgedDisplayState && control <= kBridgedDisplayState + 2) {
            // As Windows lays it out: the setting, the length of its data, the data.
            alignas(POWERBROADCAST_SETTING)
                BYTE record[power_setting::kSettingDataOffset + sizeof(DWORD)] = {};
            const DWORD length = sizeof(DWORD);
            const DWORD state = control - kBridgedDisplayState;
            std::memcpy(record, &power_setting::kConsoleDisplayState, sizeof(GUID));
            std::memcpy(record + sizeof(GUID), &length, sizeof length);
            std::memcpy(record + power_setting::kSettingDataOffset, &state, sizeof state);
            return ServiceBase::ControlHandler(SERVICE_CONTROL_POWEREVENT, PBT_POWERSETTINGCHANGE,
                                               record, context);
        }
        if (control != kBridgedDeviceEvent) {
            return ServiceBase::ControlHandler(control, eventType, eventData, context);
        }
        std::optional<DeviceEvent> event;
        {
            std::lock_guard<std::mutex> lock(g_pendingLock);
            event.swap(g_pending);
        }
        if (!event) {
            return NO_ERROR;
        }
        return ServiceBase::ControlHandler(SERVICE_CONTROL_DEVICEEVENT, event->type,
                                           event->record.data(), nullptr);
    }

    static DWORD WINAPI RunBridge(LPVOID context) {
        const auto* service = static_cast<const BridgedService*>(context);
        UniqueScmHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        UniqueScmHandle self(scm ? OpenServiceW(scm.get(), service->serviceName.c_str(),
                                                SERVICE_USER_DEFINED_CONTROL)
                                 : nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = BridgeWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"HingeflowBridge";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0,
                                      HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
        // The classes HingeflowService registers for, each on its own as the service does.
        const DeviceKind kinds[] = {kUsbDeviceKind, kKeyboardKind, kMouseKind};
        UniqueDeviceNotification notifications[std::size(kinds)];
        if (window != nullptr && self) {
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self.get()));
            for (std::size_t i = 0; i < std::size(kinds); ++i) {
                DEV_BROADCAST_DEVICEINTERFACE_W filter{};
                filter.dbcc_size = sizeof filter;
                filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
                filter.dbcc_classguid = GetDeviceInterfaceGuid(kinds[i]);
                notifications[i].reset(
                    RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
            }
        }
        for (const UniqueDeviceNotification& notification : notifications) {
            if (!notification) {
                LogError("bridge: no device notification for the window");
            }
        }
        // The thread's message queue exists from here on, so WM_QUIT can reach it.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        SetEvent(service->ready_.get());
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            DispatchMessageW(&message);
        }
        for (UniqueDeviceNotification& notification : notifications) {
            notification.reset();
        }
        if (window != nullptr) {
            DestroyWindow(window);
        }
        return 0;
    }

    UniqueKernelObject ready_;
    UniqueKernelObject bridge_;
    DWORD bridgeId_ = 0;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) {
        return HingeflowEntry(argc, argv);
    }
    InitializeConvertibleSlateMode();
    BridgedService service;
    ServiceBase::Run(service);
    service.EndBridge();
    return 0;
}
