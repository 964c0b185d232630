// Registration and removal of the service with the SCM, each step reported on the console.
#include "platform/console.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/unique_handle.h"
#include "service/event_source.h"
#include "service/module_path.h"
#include "service/service_base.h"

#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {

// The wait for a stopping service: a pause between status queries, so that the SCM is not
// polled in a busy loop, and a bound, so that a service stuck in STOP_PENDING cannot hold the
// removal for ever. 250 ms notices a prompt stop quickly; 30 s is the limit of the documented
// stop-a-service example.
constexpr DWORD kStopPollIntervalMs = 250;
constexpr DWORD kStopWaitLimitMs = 30000;
constexpr int kStopPollPauses = static_cast<int>(kStopWaitLimitMs / kStopPollIntervalMs);

// Prints a failure with the current Windows error code and leaves that code in place for the
// caller's own summary line.
void PrintFailure(const wchar_t* format) {
    const DWORD error = GetLastError();
    ConsolePrintf(format, static_cast<int>(error));
    SetLastError(error);
}

// Quotes stray in the path would split the command line the SCM builds from it.
std::wstring QuotePath(const std::wstring& path) {
    std::wstring quoted = L"\"";
    for (const WCHAR c : path) {
        if (c != L'"') {
            quoted.push_back(c);
        }
    }
    quoted.push_back(L'"');
    return quoted;
}

const WCHAR* NullIfEmpty(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

// The service runs as LocalSystem, which holds nearly every privilege, and needs none of them:
// what it reads and writes, the objects' own DACLs grant. The SCM never takes away bypass
// traverse checking; naming it alone takes away the rest, so that a fault in the service cannot
// turn them against the machine.
void LimitPrivileges(SC_HANDLE service) {
    WCHAR privileges[] = L"SeChangeNotifyPrivilege\0"; // a list: the literal adds the final null
    SERVICE_REQUIRED_PRIVILEGES_INFOW info{privileges};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &info)) {
        PrintFailure(L"Couldn't set required privileges: %d\n");
    }
}

// After a crash the SCM restarts the service a minute later, so that a passing fault does not
// leave the machine without mode switching until the next boot. A third crash within a day is a
// lasting fault: restarting it for ever would only hide it.
constexpr DWORD kRestartDelayMs = 60 * 1000;
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;

void SetRecovery(SC_HANDLE service) {
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failureActions{kFailureCountResetSeconds, nullptr, nullptr,
                                            static_cast<DWORD>(std::size(actions)), actions};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions)) {
        PrintFailure(L"Couldn't set failure actions: %d\n");
        return;
    }
    // A start that fails without a crash (every device notification refused, say) reports
    // SERVICE_STOPPED with an error; the same restart actions must follow it.
    SERVICE_FAILURE_ACTIONS_FLAG onErrors{TRUE};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrors)) {
        PrintFailure(L"Couldn't set failure actions for a stop with an error: %d\n");
    }
}

void SetDescription(SC_HANDLE service, const std::wstring& description) {
    if (description.empty()) {
        return;
    }
    std::wstring text = description; // the record's field is not const
    SERVICE_DESCRIPTIONW info{text.data()};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
        PrintFailure(L"Couldn't set description: %d\n");
    }
}

} // namespace

bool ServiceBase::InstallService() {
    std::wstring imagePath;
    std::wstring dependencyList;
    try {
        std::wstring path;
        if (!ReadModulePath(path)) {
            PrintFailure(L"Couldn't get module file name: %d\n");
            return false;
        }
        imagePath = QuotePath(path);
        // The SCM reads a list of null-terminated names closed by one more null; a std::wstring
        // guarantees only one terminator after its last name.
        if (!dependencies.empty()) {
            dependencyList = dependencies;
            dependencyList.push_back(L'\0');
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        PrintFailure(L"Couldn't get module file name: %d\n");
        return false;
    }

    const UniqueScmHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        PrintFailure(L"Couldn't open service control manager: %d\n");
        return false;
    }
    // SERVICE_CHANGE_CONFIG and SERVICE_START: what setting the privileges and a restart action
    // on this handle takes.
    const UniqueScmHandle service(CreateServiceW(
        manager.get(), serviceName.c_str(), displayName.c_str(),
        SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG | SERVICE_START, SERVICE_WIN32_OWN_PROCESS,
        startType, errorControl, imagePath.c_str(), nullptr, nullptr, NullIfEmpty(dependencyList),
        NullIfEmpty(account), NullIfEmpty(password)));
    if (!service) {
        PrintFailure(L"Couldn't create service: %d\n");
        return false;
    }
    // A setting that fails leaves a registered service that works, only with more privileges,
    // no recovery or no description: said on the console, and still an installation.
    LimitPrivileges(service.get());
    SetRecovery(service.get());
    SetDescription(service.get(), description);
    AddEventLogSource(serviceName, imagePath);
    return true;
}

bool ServiceBase::UninstallService() {
    const UniqueScmHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        PrintFailure(L"Couldn't open service control manager: %d\n");
        return false;
    }
    const UniqueScmHandle service(OpenServiceW(manager.get(), serviceName.c_str(),
                                               DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        PrintFailure(L"Couldn't open service: %d\n");
        return false;
    }

    SERVICE_STATUS stopStatus{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &stopStatus)) {
        ConsolePrintf(L"Stoping service %ls\n", serviceName.c_str());
        for (int pauses = 0;; ++pauses) {
            SERVICE_STATUS latest{};
            if (!QueryServiceStatus(service.get(), &latest)) {
                break;
            }
            stopStatus = latest;
            if (stopStatus.dwCurrentState != SERVICE_STOP_PENDING || pauses == kStopPollPauses) {
                break;
            }
            Sleep(kStopPollIntervalMs);
        }
        ConsolePrintf(stopStatus.dwCurrentState == SERVICE_STOPPED
                          ? L"Service stopped\n"
                          : L"Failed to stop the service\n");
    } else {
        PrintFailure(L"Didn't control service: %d\n");
    }

    // Whether the service stopped has no bearing: a running service is deleted once it stops.
    if (!DeleteService(service.get())) {
        PrintFailure(L"Failed to delete the service: %d\n");
        return false;
    }
    RemoveEventLogSource(serviceName);
    return true;
}
