// Simulator face only: test controls of the simulated service control manager's database (the
// side that installation uses) and of the executable path that GetModuleFileNameW reports.
// Service names compare case-insensitively, as the SCM compares them.
#pragma once

#include "platform/sim/types.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// --- The installing process ---------------------------------------------------------------
// What GetModuleFileNameW(nullptr, ...) reports until a test sets another path.
constexpr const wchar_t* kDefaultModuleFileName = L"C:\\Program Files\\hingeflow\\hingeflow.exe";
void SetModuleFileName(const std::wstring& path);

// --- The SCM ------------------------------------------------------------------------------
// The access rights OpenSCManagerW may grant; asking for more gives ERROR_ACCESS_DENIED.
// Everything is allowed until a test says otherwise.
void SetScmAccess(DWORD allowed);

// A service's registration. Each optional is empty where the caller passed null, so that null
// and the empty text stay apart.
struct ScmServiceConfig {
    std::wstring name;
    std::optional<std::wstring> displayName;
    DWORD serviceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    std::optional<std::wstring> binaryPathName;
    std::optional<std::wstring> loadOrderGroup;
    std::optional<std::vector<std::wstring>> dependencies; // the names of the double-null list
    std::optional<std::wstring> serviceStartName;
    std::optional<std::wstring> password;
};

// Every CreateServiceW call that reached the SCM, whatever its outcome.
struct CreateServiceCall {
    ScmServiceConfig config;
    DWORD desiredAccess = 0;
    bool tagIdRequested = false; // lpdwTagId was not null
    DWORD error = 0;             // 0 when a handle came back
};
std::vector<CreateServiceCall> CreateServiceCalls();

// Registers a service as an earlier installation would have; `state` is its current state.
void AddService(const ScmServiceConfig& config, DWORD state = SERVICE_STOPPED);
// Sets the state as if the service process had reported it.
void SetServiceState(const std::wstring& name, DWORD state);

// After an accepted stop request the service reads STOP_PENDING for this many status queries
// and STOPPED from the next one on; kNeverStops keeps it pending for ever. Default 1.
constexpr int kNeverStops = -1;
void SetStopPendingQueries(const std::wstring& name, int queries);

// Called, outside the simulator's lock, when the SCM accepts a stop request for a running
// service: the place to hand the stop to a simulated service process.
void SetStopRequestHook(std::function<void(const std::wstring& name)> hook);

// What ChangeServiceConfig2W has set, level by level; an empty optional was never set (or was
// deleted with an empty text).
struct ScmFailureAction {
    SC_ACTION_TYPE type = SC_ACTION_NONE;
    DWORD delayMs = 0;
    bool operator==(const ScmFailureAction& other) const {
        return type == other.type && delayMs == other.delayMs;
    }
};
struct ScmOptionalConfig {
    std::optional<std::wstring> description;
    DWORD failureResetPeriodSeconds = 0;
    std::vector<ScmFailureAction> failureActions;
    std::optional<std::wstring> rebootMessage;
    std::optional<std::wstring> failureCommand;
    // Whether the failure actions also follow a stop that reports an error, not only a crash.
    bool failureActionsOnNonCrashFailures = false;
    std::optional<std::vector<std::wstring>> requiredPrivileges;
};

struct ScmServiceInfo {
    ScmServiceConfig config;
    DWORD state = SERVICE_STOPPED;
    bool markedForDelete = false;
    ScmOptionalConfig optional;
};
// The service while it is in the database. A service marked for deletion stays until it has
// stopped and every handle to it is closed, as on Windows.
std::optional<ScmServiceInfo> FindService(const std::wstring& name);
int ServiceCount();

} // namespace sim
