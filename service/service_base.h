// The generic service frame: turns the SCM's service-main callback and control handler into
// calls of virtual hooks on the one service object, and registers or removes that service.
#pragma once

#include "platform/services.h"

#include <condition_variable>
#include <mutex>
#include <string>

class ServiceBase {
public:
    ServiceBase(const std::wstring& serviceName, const std::wstring& displayName, DWORD startType,
                DWORD errorControl, DWORD controlsAccepted, const std::wstring& dependencies,
                const std::wstring& account, const std::wstring& password);
    virtual ~ServiceBase();
    ServiceBase(const ServiceBase&) = delete;
    ServiceBase& operator=(const ServiceBase&) = delete;
    ServiceBase(ServiceBase&&) = delete;
    ServiceBase& operator=(ServiceBase&&) = delete;

    // Publishes the object in g_service and blocks in the SCM dispatcher until the service has
    // stopped and ServiceMain has returned; false at once when the process was not started by
    // the SCM.
    static bool Run(ServiceBase& service);

    // Registration with the SCM; each prints its failures on the console.
    bool InstallService();
    bool UninstallService();

    static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
    static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                       LPVOID context);

    const std::wstring& ServiceName() const { return serviceName; }
    const SERVICE_STATUS& Status() const { return status; }
    SERVICE_STATUS_HANDLE StatusHandle() const { return statusHandle; }

protected:
    virtual void onStart(DWORD argc, LPWSTR* argv) = 0;
    virtual void OnStop() {}
    virtual void OnPause() {}
    virtual void OnContinue() {}
    virtual void OnShutdown() {}
    virtual void OnDeviceEvent(DWORD /*eventType*/, LPVOID /*eventData*/) {}
    virtual void onPowerEvent(DWORD /*eventType*/, LPVOID /*eventData*/) {}
    virtual void OnSessionChange(DWORD /*eventType*/, LPVOID /*eventData*/) {}

    // Hands `state` to the SCM, unless SERVICE_STOPPED already went out: after that the SCM may
    // end the process at any moment, and Windows forbids any further report. A service-specific
    // exit code other than 0 goes out as ERROR_SERVICE_SPECIFIC_ERROR with that code.
    void ReportStatus(DWORD state, DWORD serviceSpecificExitCode = 0);
    // Called from onStart: once it returns, the service reports SERVICE_STOPPED with this code
    // instead of SERVICE_RUNNING, so that the SCM counts a failure and its recovery acts.
    void FailStart(DWORD serviceSpecificExitCode);

    std::wstring serviceName;
    std::wstring displayName;
    DWORD startType;
    DWORD errorControl;
    std::wstring dependencies;
    std::wstring account;
    std::wstring password;
    // What services.msc shows beside the display name; none when empty.
    std::wstring description;
    SERVICE_STATUS status;
    SERVICE_STATUS_HANDLE statusHandle;

private:
    friend class ServiceMainScope;

    // ServiceMain and the control handler report from two threads: a stop or shutdown can
    // arrive while onStart runs. The lock orders their reports and guards `status`.
    std::mutex reportLock;
    bool stoppedReported = false;
    bool serviceMainRunning = false;
    // Written and read on the service-main thread only.
    DWORD startFailure = 0;
    std::condition_variable serviceMainReturned;
};

// The one service object of the process; set once by Run, never cleared, never owning.
extern ServiceBase* g_service;
