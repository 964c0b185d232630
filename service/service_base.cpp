// The service frame's runtime side: dispatcher, service-main, control handler, status reports.
// Installation and removal live in service_install.cpp.
#include "service/service_base.h"

#include "config/event_messages.h"
#include "platform/unique_handle.h"

ServiceBase* g_service = nullptr;

namespace {

// The SCM calls ServiceMain and ControlHandler from code that cannot unwind an exception, and
// the status sequence must go on whatever a hook does.
template <typename Hook> void CallHook(Hook&& hook) noexcept {
    try {
        hook();
    } catch (...) {
    }
}

void ReportHandlerRegistrationFailure(const std::wstring& serviceName) {
    UniqueEventSource source(RegisterEventSourceW(nullptr, serviceName.c_str()));
    if (!source) {
        return;
    }
    LPCWSTR strings[] = {serviceName.c_str(), L"Can't set service control handler"};
    ReportEventW(source.get(), EVENTLOG_ERROR_TYPE, event_message::kCategoryService,
                 event_message::kControlHandlerFailed, nullptr, 2, 0, strings, nullptr);
}

} // namespace

// Marks ServiceMain as running for as long as it is on the stack, so that Run can wait for it.
class ServiceMainScope {
public:
    explicit ServiceMainScope(ServiceBase& service) : owner(service) {
        const std::lock_guard<std::mutex> lock(owner.reportLock);
        owner.serviceMainRunning = true;
    }
    ~ServiceMainScope() {
        const std::lock_guard<std::mutex> lock(owner.reportLock);
        owner.serviceMainRunning = false;
        owner.serviceMainReturned.notify_all();
    }
    ServiceMainScope(const ServiceMainScope&) = delete;
    ServiceMainScope& operator=(const ServiceMainScope&) = delete;
    ServiceMainScope(ServiceMainScope&&) = delete;
    ServiceMainScope& operator=(ServiceMainScope&&) = delete;

private:
    ServiceBase& owner;
};

// Parameters are named apart from the fields they fill, which they would otherwise hide.
ServiceBase::ServiceBase(const std::wstring& name, const std::wstring& display, DWORD start,
                         DWORD errorLevel, DWORD controlsAccepted, const std::wstring& dependsOn,
                         const std::wstring& runAs, const std::wstring& runAsPassword)
    : serviceName(name), displayName(display), startType(start), errorControl(errorLevel),
      dependencies(dependsOn), account(runAs), password(runAsPassword),
      status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, controlsAccepted, NO_ERROR, 0, 0, 0},
      statusHandle(nullptr) {}

ServiceBase::~ServiceBase() = default;

bool ServiceBase::Run(ServiceBase& service) {
    g_service = &service;
    SERVICE_TABLE_ENTRYW table[] = {{service.serviceName.data(), &ServiceBase::ServiceMain},
                                    {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table) == FALSE) {
        return false;
    }
    // The dispatcher returns as soon as STOPPED is reported, which a stop during onStart does
    // while ServiceMain still runs; the caller destroys the object next.
    std::unique_lock<std::mutex> lock(service.reportLock);
    service.serviceMainReturned.wait(lock, [&] { return !service.serviceMainRunning; });
    return true;
}

void WINAPI ServiceBase::ServiceMain(DWORD argc, LPWSTR* argv) {
    ServiceBase* service = g_service;
    if (service == nullptr) {
        return;
    }
    const ServiceMainScope running(*service);
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(
        service->serviceName.c_str(), &ServiceBase::ControlHandler, nullptr);
    {
        // Under the lock: a control may already be running ReportStatus on the other thread.
        std::lock_guard<std::mutex> lock(service->reportLock);
        service->statusHandle = handle;
    }
    if (handle == nullptr) {
        CallHook([&] { ReportHandlerRegistrationFailure(service->serviceName); });
        return;
    }
    service->ReportStatus(SERVICE_START_PENDING);
    CallHook([&] { service->onStart(argc, argv); });
    if (service->startFailure != 0) {
        service->ReportStatus(SERVICE_STOPPED, service->startFailure);
        return;
    }
    service->ReportStatus(SERVICE_RUNNING);
}

DWORD WINAPI ServiceBase::ControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                         LPVOID /*context*/) {
    ServiceBase* service = g_service;
    if (service == nullptr) {
        return NO_ERROR;
    }
    switch (control) {
    case SERVICE_CONTROL_STOP:
        service->ReportStatus(SERVICE_STOP_PENDING);
        CallHook([&] { service->OnStop(); });
        service->ReportStatus(SERVICE_STOPPED);
        break;
    case SERVICE_CONTROL_PAUSE:
        service->ReportStatus(SERVICE_PAUSE_PENDING);
        CallHook([&] { service->OnPause(); });
        service->ReportStatus(SERVICE_PAUSED);
        break;
    case SERVICE_CONTROL_CONTINUE:
        service->ReportStatus(SERVICE_CONTINUE_PENDING);
        CallHook([&] { service->OnContinue(); });
        service->ReportStatus(SERVICE_RUNNING);
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        CallHook([&] { service->OnShutdown(); });
        service->ReportStatus(SERVICE_STOPPED);
        break;
    case SERVICE_CONTROL_DEVICEEVENT:
        CallHook([&] { service->OnDeviceEvent(eventType, eventData); });
        break;
    case SERVICE_CONTROL_POWEREVENT:
        CallHook([&] { service->onPowerEvent(eventType, eventData); });
        break;
    case SERVICE_CONTROL_SESSIONCHANGE:
        CallHook([&] { service->OnSessionChange(eventType, eventData); });
        break;
    default:
        break;
    }
    return NO_ERROR;
}

void ServiceBase::FailStart(DWORD serviceSpecificExitCode) {
    startFailure = serviceSpecificExitCode;
}

void ServiceBase::ReportStatus(DWORD state, DWORD serviceSpecificExitCode) {
    std::lock_guard<std::mutex> lock(reportLock);
    if (stoppedReported) {
        return;
    }
    status.dwCurrentState = state;
    status.dwWin32ExitCode = serviceSpecificExitCode != 0
                                 ? static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR)
                                 : static_cast<DWORD>(NO_ERROR);
    status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    status.dwWaitHint = 0;
    // A refused STOPPED leaves the SCM waiting for one, so only an accepted one ends reporting.
    if (SetServiceStatus(statusHandle, &status) != FALSE && state == SERVICE_STOPPED) {
        stoppedReported = true;
    }
}
