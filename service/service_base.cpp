// The service frame's runtime side: dispatcher, service-main, control handler, status reports.
// Installation and removal live in service_install.cpp.
#include "service/service_base.h"

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
    ReportEventW(source.get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
}

} // namespace

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
    return StartServiceCtrlDispatcherW(table) != FALSE;
}

void WINAPI ServiceBase::ServiceMain(DWORD argc, LPWSTR* argv) {
    ServiceBase* service = g_service;
    if (service == nullptr) {
        return;
    }
    service->statusHandle = RegisterServiceCtrlHandlerExW(service->serviceName.c_str(),
                                                          &ServiceBase::ControlHandler, nullptr);
    if (service->statusHandle == nullptr) {
        CallHook([&] { ReportHandlerRegistrationFailure(service->serviceName); });
        return;
    }
    service->ReportStatus(SERVICE_START_PENDING);
    CallHook([&] { service->onStart(argc, argv); });
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

void ServiceBase::ReportStatus(DWORD state) {
    status.dwCurrentState = state;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = 0;
    SetServiceStatus(statusHandle, &status);
}
