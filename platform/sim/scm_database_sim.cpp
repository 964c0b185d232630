// Simulator face only: the service control manager's database as installation sees it, after
// the documented Win32 behaviour (and Wine's services.exe where the documentation is silent):
// access checked per handle, a deleted service kept until it has stopped and its last handle is
// closed, status filled in by ControlService on the refusals that Windows fills it in on, and the
// optional configuration read back in Windows' buffer protocol (the size needed, then the record
// with its texts behind it in the caller's one buffer).
#include "platform/process.h"
#include "platform/services.h"
#include "platform/sim/core.h"
#include "platform/sim/scm_database_control.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <utility>

namespace {

constexpr DWORD kServiceInterrogate = 0x0080;
constexpr DWORD kServicePauseContinue = 0x0040;
constexpr DWORD kServiceUserDefinedControl = 0x0100;
constexpr DWORD kErrorDatabaseDoesNotExist = 1065;
constexpr DWORD kErrorDuplicateServiceName = 1078;
constexpr DWORD kRpcServerUnavailable = 1722;
constexpr DWORD kDefaultControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

struct Service {
    sim::ScmServiceConfig config;
    DWORD state = SERVICE_STOPPED;
    DWORD controlsAccepted = kDefaultControlsAccepted;
    int stopPendingQueries = 1;
    int pendingQueriesLeft = 0;
    bool markedForDelete = false;
    sim::ScmOptionalConfig optional;
};

struct HandleRecord {
    bool isManager = false;
    DWORD access = 0;
    unsigned serviceId = 0; // service handles only
};

struct Database {
    DWORD scmAccess = SC_MANAGER_ALL_ACCESS;
    std::map<unsigned, Service> services; // by id, so that a re-created name is a new service
    unsigned nextServiceId = 1;
    std::map<std::uintptr_t, HandleRecord> handles;
    std::uintptr_t nextHandle = 0x5c000;
    std::vector<sim::CreateServiceCall> createCalls;
    std::function<void(const std::wstring&)> stopHook;
};

Database& Db() {
    static Database* db = new Database(); // never destroyed: see core.cpp
    return *db;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towupper(static_cast<wint_t>(a[i])) != std::towupper(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

Service* FindByName(const std::wstring& name, unsigned* id = nullptr) {
    for (auto& [serviceId, service] : Db().services) {
        if (SameName(service.config.name, name)) {
            if (id != nullptr) {
                *id = serviceId;
            }
            return &service;
        }
    }
    return nullptr;
}

Service& Existing(const std::wstring& name, unsigned* id = nullptr) {
    Service* service = FindByName(name, id);
    if (service == nullptr) {
        // A test asked about a service it never registered: a fault of the test itself.
        std::abort();
    }
    return *service;
}

std::optional<std::wstring> Optional(LPCWSTR text) {
    return text == nullptr ? std::nullopt : std::optional<std::wstring>(text);
}

std::optional<std::vector<std::wstring>> ParseMultiString(LPCWSTR list) {
    if (list == nullptr) {
        return std::nullopt;
    }
    std::vector<std::wstring> names;
    for (const WCHAR* p = list; *p != 0;) {
        names.emplace_back(p);
        p += names.back().size() + 1;
    }
    return names;
}

SC_HANDLE NewHandle(const HandleRecord& record) {
    Database& db = Db();
    const std::uintptr_t value = db.nextHandle;
    db.nextHandle += 8;
    db.handles[value] = record;
    sim::core::HandleOpened(sim::HandleKind::ScmHandle);
    return reinterpret_cast<SC_HANDLE>(value);
}

HandleRecord* Lookup(SC_HANDLE handle) {
    auto it = Db().handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == Db().handles.end() ? nullptr : &it->second;
}

// The service behind a service handle with the access an operation needs, or the error.
DWORD ServiceFor(SC_HANDLE handle, DWORD accessNeeded, Service** service) {
    HandleRecord* record = Lookup(handle);
    if (record == nullptr || record->isManager) {
        return ERROR_INVALID_HANDLE;
    }
    if ((record->access & accessNeeded) != accessNeeded) {
        return ERROR_ACCESS_DENIED;
    }
    *service = &Db().services.at(record->serviceId);
    return 0;
}

DWORD ManagerFor(SC_HANDLE handle, DWORD accessNeeded) {
    HandleRecord* record = Lookup(handle);
    if (record == nullptr || !record->isManager) {
        return ERROR_INVALID_HANDLE;
    }
    return (record->access & accessNeeded) == accessNeeded ? 0 : ERROR_ACCESS_DENIED;
}

void FillStatus(const Service& service, SERVICE_STATUS* status) {
    *status = SERVICE_STATUS{};
    status->dwServiceType = service.config.serviceType;
    status->dwCurrentState = service.state;
    const bool active = service.state == SERVICE_RUNNING || service.state == SERVICE_PAUSED;
    status->dwControlsAccepted = active ? service.controlsAccepted : 0;
}

// A deleted service leaves the database once it has stopped and nothing refers to it.
void RemoveIfDone(unsigned serviceId) {
    Database& db = Db();
    auto it = db.services.find(serviceId);
    if (it == db.services.end() || !it->second.markedForDelete ||
        it->second.state != SERVICE_STOPPED) {
        return;
    }
    for (const auto& [value, record] : db.handles) {
        if (!record.isManager && record.serviceId == serviceId) {
            return;
        }
    }
    db.services.erase(it);
}

void EnterState(unsigned serviceId, Service& service, DWORD state) {
    service.state = state;
    service.pendingQueriesLeft = service.stopPendingQueries;
    RemoveIfDone(serviceId);
}

bool Fail(DWORD code) {
    SetLastError(code);
    return false;
}

bool KnownConfigLevel(DWORD level) {
    return level == SERVICE_CONFIG_DESCRIPTION || level == SERVICE_CONFIG_FAILURE_ACTIONS ||
           level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG ||
           level == SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO;
}

// What a ChangeServiceConfig2W call asks for, for the journal.
std::string DescribeConfig(DWORD level, const void* info) {
    if (info == nullptr) {
        return "(null)";
    }
    switch (level) {
    case SERVICE_CONFIG_DESCRIPTION:
        return sim::core::Narrow(static_cast<const SERVICE_DESCRIPTIONW*>(info)->lpDescription);
    case SERVICE_CONFIG_FAILURE_ACTIONS: {
        const auto* failure = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
        std::string text = "reset=" + std::to_string(failure->dwResetPeriod) +
                           ", reboot=" + sim::core::Narrow(failure->lpRebootMsg) +
                           ", command=" + sim::core::Narrow(failure->lpCommand) + ", actions=";
        if (failure->lpsaActions == nullptr) {
            return text + "(null)";
        }
        for (DWORD i = 0; i < failure->cActions; ++i) {
            const SC_ACTION& action = failure->lpsaActions[i];
            text += (i == 0 ? "" : " ") + std::to_string(action.Type) + "/" +
                    std::to_string(action.Delay);
        }
        return text;
    }
    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
        return "flag=" + std::to_string(static_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(info)
                                            ->fFailureActionsOnNonCrashFailures);
    case SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO: {
        const auto* privileges = static_cast<const SERVICE_REQUIRED_PRIVILEGES_INFOW*>(info);
        const auto names = ParseMultiString(privileges->pmszRequiredPrivileges);
        if (!names) {
            return "(null)";
        }
        std::string text;
        for (const std::wstring& name : *names) {
            text += (text.empty() ? "" : " ") + sim::core::Narrow(name.c_str());
        }
        return text;
    }
    default:
        return "";
    }
}

// A text member of a change: null leaves it as it is, the empty text deletes it.
void ChangeText(LPCWSTR given, std::optional<std::wstring>& stored) {
    if (given == nullptr) {
        return;
    }
    stored = *given == 0 ? std::nullopt : std::optional<std::wstring>(given);
}

// Places the record of one level and what its pointers point to, one after another with each
// part aligned for its type. With no buffer it only counts the bytes: the size to report.
class ConfigLayout {
public:
    explicit ConfigLayout(BYTE* buffer) : buffer_(buffer) {}
    std::size_t Size() const { return used_; }

    template <typename T> T* Place(std::size_t count) {
        used_ = (used_ + alignof(T) - 1) / alignof(T) * alignof(T);
        T* at = buffer_ == nullptr ? nullptr : reinterpret_cast<T*>(buffer_ + used_);
        used_ += count * sizeof(T);
        return at;
    }
    LPWSTR PlaceText(const std::optional<std::wstring>& text) {
        if (!text) {
            return nullptr;
        }
        WCHAR* at = Place<WCHAR>(text->size() + 1);
        if (at != nullptr) {
            std::memcpy(at, text->c_str(), (text->size() + 1) * sizeof(WCHAR));
        }
        return at;
    }

private:
    BYTE* buffer_;
    std::size_t used_ = 0;
};

void LayOutConfig(DWORD level, const sim::ScmOptionalConfig& config, ConfigLayout& layout) {
    switch (level) {
    case SERVICE_CONFIG_DESCRIPTION: {
        auto* record = layout.Place<SERVICE_DESCRIPTIONW>(1);
        LPWSTR description = layout.PlaceText(config.description);
        if (record != nullptr) {
            record->lpDescription = description;
        }
        break;
    }
    case SERVICE_CONFIG_FAILURE_ACTIONS: {
        auto* record = layout.Place<SERVICE_FAILURE_ACTIONSW>(1);
        const std::size_t count = config.failureActions.size();
        SC_ACTION* actions = count == 0 ? nullptr : layout.Place<SC_ACTION>(count);
        LPWSTR rebootMessage = layout.PlaceText(config.rebootMessage);
        LPWSTR command = layout.PlaceText(config.failureCommand);
        if (record != nullptr) {
            for (std::size_t i = 0; i < count; ++i) {
                actions[i] =
                    SC_ACTION{config.failureActions[i].type, config.failureActions[i].delayMs};
            }
            *record = SERVICE_FAILURE_ACTIONSW{config.failureResetPeriodSeconds, rebootMessage,
                                               command, static_cast<DWORD>(count), actions};
        }
        break;
    }
    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG: {
        auto* record = layout.Place<SERVICE_FAILURE_ACTIONS_FLAG>(1);
        if (record != nullptr) {
            record->fFailureActionsOnNonCrashFailures =
                config.failureActionsOnNonCrashFailures ? TRUE : FALSE;
        }
        break;
    }
    case SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO: {
        auto* record = layout.Place<SERVICE_REQUIRED_PRIVILEGES_INFOW>(1);
        WCHAR* list = nullptr;
        if (config.requiredPrivileges) {
            std::size_t units = 1; // the list's closing null
            for (const std::wstring& name : *config.requiredPrivileges) {
                units += name.size() + 1;
            }
            list = layout.Place<WCHAR>(units);
            if (list != nullptr) {
                WCHAR* next = list;
                for (const std::wstring& name : *config.requiredPrivileges) {
                    std::memcpy(next, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
                    next += name.size() + 1;
                }
                *next = 0;
            }
        }
        if (record != nullptr) {
            record->pmszRequiredPrivileges = list;
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

namespace sim {

void SetScmAccess(DWORD allowed) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    Db().scmAccess = allowed;
}

std::vector<CreateServiceCall> CreateServiceCalls() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return Db().createCalls;
}

void AddService(const ScmServiceConfig& config, DWORD state) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    Database& db = Db();
    Service service;
    service.config = config;
    service.state = state;
    db.services[db.nextServiceId++] = std::move(service);
}

void SetServiceState(const std::wstring& name, DWORD state) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    unsigned id = 0;
    Service& service = Existing(name, &id);
    EnterState(id, service, state);
}

void SetStopPendingQueries(const std::wstring& name, int queries) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    Service& service = Existing(name);
    service.stopPendingQueries = queries;
    service.pendingQueriesLeft = queries;
}

void SetStopRequestHook(std::function<void(const std::wstring& name)> hook) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    Db().stopHook = std::move(hook);
}

std::optional<ScmServiceInfo> FindService(const std::wstring& name) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    const Service* service = FindByName(name);
    if (service == nullptr) {
        return std::nullopt;
    }
    return ScmServiceInfo{service->config, service->state, service->markedForDelete,
                          service->optional};
}

int ServiceCount() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return static_cast<int>(Db().services.size());
}

namespace core {
void ResetScmDatabase() {
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        Db() = Database();
    }
    SetModuleFileName(kDefaultModuleFileName);
}
} // namespace core

} // namespace sim

SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const std::string machine = sim::core::Narrow(lpMachineName);
    const std::string database = sim::core::Narrow(lpDatabaseName);
    if (const DWORD fault =
            sim::core::Enter("OpenSCManagerW", ERROR_ACCESS_DENIED, "%s, %s, 0x%x", machine.c_str(),
                             database.c_str(), static_cast<unsigned>(dwDesiredAccess))) {
        Fail(fault);
        return nullptr;
    }
    if (lpMachineName != nullptr && *lpMachineName != 0) {
        Fail(kRpcServerUnavailable); // only the local machine is simulated
        return nullptr;
    }
    if (lpDatabaseName != nullptr && std::wstring(lpDatabaseName) != L"ServicesActive") {
        Fail(kErrorDatabaseDoesNotExist);
        return nullptr;
    }
    if ((dwDesiredAccess & ~Db().scmAccess) != 0) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return NewHandle(HandleRecord{true, dwDesiredAccess, 0});
}

SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                         DWORD dwErrorControl, LPCWSTR lpBinaryPathName, LPCWSTR lpLoadOrderGroup,
                         LPDWORD lpdwTagId, LPCWSTR lpDependencies, LPCWSTR lpServiceStartName,
                         LPCWSTR lpPassword) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    sim::CreateServiceCall call;
    call.config = sim::ScmServiceConfig{lpServiceName == nullptr ? std::wstring()
                                                                 : std::wstring(lpServiceName),
                                        Optional(lpDisplayName),
                                        dwServiceType,
                                        dwStartType,
                                        dwErrorControl,
                                        Optional(lpBinaryPathName),
                                        Optional(lpLoadOrderGroup),
                                        ParseMultiString(lpDependencies),
                                        Optional(lpServiceStartName),
                                        Optional(lpPassword)};
    call.desiredAccess = dwDesiredAccess;
    call.tagIdRequested = lpdwTagId != nullptr;

    const DWORD fault = sim::core::Enter(
        "CreateServiceW", ERROR_ACCESS_DENIED, "%p, %s, %s, 0x%x, 0x%x, %u, %u, %s",
        static_cast<void*>(hSCManager), sim::core::Narrow(lpServiceName).c_str(),
        sim::core::Narrow(lpDisplayName).c_str(), static_cast<unsigned>(dwDesiredAccess),
        static_cast<unsigned>(dwServiceType), static_cast<unsigned>(dwStartType),
        static_cast<unsigned>(dwErrorControl), sim::core::Narrow(lpBinaryPathName).c_str());

    DWORD error = fault;
    if (error == 0) {
        error = ManagerFor(hSCManager, SC_MANAGER_CREATE_SERVICE);
    }
    if (error == 0 && (lpServiceName == nullptr || *lpServiceName == 0)) {
        error = ERROR_INVALID_NAME;
    }
    if (error == 0 && (lpBinaryPathName == nullptr || *lpBinaryPathName == 0)) {
        error = ERROR_INVALID_PARAMETER;
    }
    if (error == 0) {
        if (const Service* existing = FindByName(lpServiceName)) {
            error =
                existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
        }
    }
    if (error == 0) {
        const std::wstring& shown = call.config.displayName.value_or(call.config.name);
        for (const auto& [id, other] : Db().services) {
            if (SameName(other.config.displayName.value_or(other.config.name), shown)) {
                error = kErrorDuplicateServiceName;
            }
        }
    }
    call.error = error;
    Db().createCalls.push_back(call);
    if (error != 0) {
        Fail(error);
        return nullptr;
    }

    Database& db = Db();
    const unsigned id = db.nextServiceId++;
    Service service;
    service.config = call.config;
    db.services[id] = std::move(service);
    return NewHandle(HandleRecord{false, dwDesiredAccess, id});
}

SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter("OpenServiceW", ERROR_SERVICE_DOES_NOT_EXIST,
                                             "%p, %s, 0x%x", static_cast<void*>(hSCManager),
                                             sim::core::Narrow(lpServiceName).c_str(),
                                             static_cast<unsigned>(dwDesiredAccess))) {
        Fail(fault);
        return nullptr;
    }
    if (const DWORD error = ManagerFor(hSCManager, SC_MANAGER_CONNECT)) {
        Fail(error);
        return nullptr;
    }
    if (lpServiceName == nullptr || *lpServiceName == 0) {
        Fail(ERROR_INVALID_NAME);
        return nullptr;
    }
    unsigned id = 0;
    if (FindByName(lpServiceName, &id) == nullptr) {
        Fail(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return NewHandle(HandleRecord{false, dwDesiredAccess, id});
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    std::unique_lock<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault =
            sim::core::Enter("ControlService", ERROR_SERVICE_NOT_ACTIVE, "%p, %u",
                             static_cast<void*>(hService), static_cast<unsigned>(dwControl))) {
        return Fail(fault);
    }
    DWORD accessNeeded = 0;
    switch (dwControl) {
    case SERVICE_CONTROL_STOP:
        accessNeeded = SERVICE_STOP;
        break;
    case SERVICE_CONTROL_INTERROGATE:
        accessNeeded = kServiceInterrogate;
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        accessNeeded = kServicePauseContinue;
        break;
    default:
        if (dwControl < 128 || dwControl > 255) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        accessNeeded = kServiceUserDefinedControl;
    }
    Service* service = nullptr;
    if (const DWORD error = ServiceFor(hService, accessNeeded, &service)) {
        return Fail(error);
    }
    DWORD refusal = 0;
    if (service->state == SERVICE_STOPPED) {
        refusal = ERROR_SERVICE_NOT_ACTIVE;
    } else if (service->state == SERVICE_STOP_PENDING ||
               (service->state == SERVICE_START_PENDING && dwControl != SERVICE_CONTROL_STOP)) {
        refusal = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    }
    if (refusal != 0) {
        if (lpServiceStatus != nullptr) {
            FillStatus(*service, lpServiceStatus);
        }
        return Fail(refusal);
    }
    const bool accepted =
        dwControl == SERVICE_CONTROL_INTERROGATE ||
        (dwControl == SERVICE_CONTROL_STOP && (service->controlsAccepted & SERVICE_ACCEPT_STOP));
    if (!accepted) {
        return Fail(ERROR_INVALID_SERVICE_CONTROL);
    }
    const unsigned serviceId = Lookup(hService)->serviceId;
    if (dwControl == SERVICE_CONTROL_STOP) {
        service->state = SERVICE_STOP_PENDING;
        service->pendingQueriesLeft = service->stopPendingQueries;
        std::function<void(const std::wstring&)> hook = Db().stopHook;
        const std::wstring name = service->config.name;
        if (hook) {
            // The service process may report its states back through the controls.
            lock.unlock();
            hook(name);
            lock.lock();
        }
    }
    // ControlService answers with the latest status the service reported.
    auto it = Db().services.find(serviceId);
    if (lpServiceStatus != nullptr && it != Db().services.end()) {
        FillStatus(it->second, lpServiceStatus);
    }
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter("QueryServiceStatus", ERROR_INVALID_HANDLE, "%p",
                                             static_cast<void*>(hService))) {
        return Fail(fault);
    }
    Service* service = nullptr;
    if (const DWORD error = ServiceFor(hService, SERVICE_QUERY_STATUS, &service)) {
        return Fail(error);
    }
    if (lpServiceStatus == nullptr) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (service->state == SERVICE_STOP_PENDING) {
        if (service->pendingQueriesLeft == 0) {
            service->state = SERVICE_STOPPED; // the handle in use keeps it in the database
        } else if (service->pendingQueriesLeft > 0) {
            --service->pendingQueriesLeft;
        }
    }
    FillStatus(*service, lpServiceStatus);
    return TRUE;
}

BOOL QueryServiceConfigW(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGW lpServiceConfig,
                         DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault =
            sim::core::Enter("QueryServiceConfigW", ERROR_ACCESS_DENIED, "%p, %u",
                             static_cast<void*>(hService), static_cast<unsigned>(cbBufSize))) {
        return Fail(fault);
    }
    Service* service = nullptr;
    if (const DWORD error = ServiceFor(hService, SERVICE_QUERY_CONFIG, &service)) {
        return Fail(error);
    }
    if (pcbBytesNeeded == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // The record, then its strings packed behind it. The SCM hands back an empty text where the
    // registration has none, the account it runs under, and the name when no display name was
    // given; the dependency list ends with an extra null.
    const sim::ScmServiceConfig& config = service->config;
    std::wstring dependencies;
    for (const std::wstring& name : config.dependencies.value_or(std::vector<std::wstring>{})) {
        dependencies += name;
        dependencies.push_back(L'\0');
    }
    dependencies.push_back(L'\0');
    const std::wstring empty;
    const std::wstring localSystem = L"LocalSystem";
    const std::wstring* texts[] = {&empty, &empty, &dependencies, &localSystem, &config.name};
    texts[0] = config.binaryPathName ? &*config.binaryPathName : &empty;
    texts[1] = config.loadOrderGroup ? &*config.loadOrderGroup : &empty;
    texts[3] = config.serviceStartName ? &*config.serviceStartName : &localSystem;
    texts[4] = config.displayName ? &*config.displayName : &config.name;
    DWORD needed = sizeof(QUERY_SERVICE_CONFIGW);
    for (const std::wstring* text : texts) {
        // The dependency list carries its own terminators; the others get theirs here.
        const std::size_t units = text->size() + (text == &dependencies ? 0 : 1);
        needed += static_cast<DWORD>(units * sizeof(WCHAR));
    }
    *pcbBytesNeeded = needed;
    if (lpServiceConfig == nullptr || cbBufSize < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    WCHAR* next = reinterpret_cast<WCHAR*>(lpServiceConfig + 1);
    LPWSTR* fields[] = {&lpServiceConfig->lpBinaryPathName, &lpServiceConfig->lpLoadOrderGroup,
                        &lpServiceConfig->lpDependencies, &lpServiceConfig->lpServiceStartName,
                        &lpServiceConfig->lpDisplayName};
    for (std::size_t i = 0; i < 5; ++i) {
        *fields[i] = next;
        next = std::copy(texts[i]->begin(), texts[i]->end(), next);
        if (texts[i] != &dependencies) {
            *next++ = 0;
        }
    }
    lpServiceConfig->dwServiceType = config.serviceType;
    lpServiceConfig->dwStartType = config.startType;
    lpServiceConfig->dwErrorControl = config.errorControl;
    lpServiceConfig->dwTagId = 0;
    return TRUE;
}

BOOL DeleteService(SC_HANDLE hService) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter("DeleteService", ERROR_ACCESS_DENIED, "%p",
                                             static_cast<void*>(hService))) {
        return Fail(fault);
    }
    Service* service = nullptr;
    if (const DWORD error = ServiceFor(hService, DELETE, &service)) {
        return Fail(error);
    }
    if (service->markedForDelete) {
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    }
    service->markedForDelete = true; // a running service keeps running until it stops
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault =
            sim::core::Enter("CloseServiceHandle", 0, "%p", static_cast<void*>(hSCObject))) {
        return Fail(fault); // only a rule naming this operation gets here; the handle stays open
    }
    HandleRecord* record = Lookup(hSCObject);
    if (record == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    const bool isService = !record->isManager;
    const unsigned serviceId = record->serviceId;
    Db().handles.erase(reinterpret_cast<std::uintptr_t>(hSCObject));
    sim::core::HandleClosed(sim::HandleKind::ScmHandle);
    if (isService) {
        RemoveIfDone(serviceId);
    }
    return TRUE;
}

BOOL ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter(
            "ChangeServiceConfig2W", ERROR_ACCESS_DENIED, "%p, %u, %s",
            static_cast<void*>(hService), static_cast<unsigned>(dwInfoLevel),
            KnownConfigLevel(dwInfoLevel) ? DescribeConfig(dwInfoLevel, lpInfo).c_str() : "")) {
        return Fail(fault);
    }
    if (!KnownConfigLevel(dwInfoLevel)) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if (lpInfo == nullptr) {
        return TRUE; // documented: the information stays as it is
    }
    DWORD accessNeeded = SERVICE_CHANGE_CONFIG;
    const auto* failure = static_cast<const SERVICE_FAILURE_ACTIONSW*>(lpInfo);
    if (dwInfoLevel == SERVICE_CONFIG_FAILURE_ACTIONS && failure->lpsaActions != nullptr) {
        for (DWORD i = 0; i < failure->cActions; ++i) {
            if (failure->lpsaActions[i].Type > SC_ACTION_RUN_COMMAND) {
                return Fail(ERROR_INVALID_PARAMETER);
            }
            if (failure->lpsaActions[i].Type == SC_ACTION_RESTART) {
                accessNeeded |= SERVICE_START; // the SCM will start it on the caller's behalf
            }
        }
    }
    Service* service = nullptr;
    if (const DWORD error = ServiceFor(hService, accessNeeded, &service)) {
        return Fail(error);
    }
    if (service->markedForDelete) {
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    }
    sim::ScmOptionalConfig& config = service->optional;
    switch (dwInfoLevel) {
    case SERVICE_CONFIG_DESCRIPTION:
        ChangeText(static_cast<const SERVICE_DESCRIPTIONW*>(lpInfo)->lpDescription,
                   config.description);
        break;
    case SERVICE_CONFIG_FAILURE_ACTIONS:
        ChangeText(failure->lpRebootMsg, config.rebootMessage);
        ChangeText(failure->lpCommand, config.failureCommand);
        // Without an action list the count and the reset period are ignored.
        if (failure->lpsaActions != nullptr) {
            config.failureResetPeriodSeconds = failure->dwResetPeriod;
            config.failureActions.clear();
            for (DWORD i = 0; i < failure->cActions; ++i) {
                config.failureActions.push_back(
                    {failure->lpsaActions[i].Type, failure->lpsaActions[i].Delay});
            }
        }
        break;
    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
        config.failureActionsOnNonCrashFailures =
            static_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(lpInfo)
                ->fFailureActionsOnNonCrashFailures != FALSE;
        break;
    case SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO:
        if (auto names =
                ParseMultiString(static_cast<const SERVICE_REQUIRED_PRIVILEGES_INFOW*>(lpInfo)
                                     ->pmszRequiredPrivileges)) {
            config.requiredPrivileges = std::move(names);
        }
        break;
    default:
        break;
    }
    return TRUE;
}

BOOL QueryServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPBYTE lpBuffer, DWORD cbBufSize,
                          LPDWORD pcbBytesNeeded) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter(
            "QueryServiceConfig2W", ERROR_ACCESS_DENIED, "%p, %u, %s, %u",
            static_cast<void*>(hService), static_cast<unsigned>(dwInfoLevel),
            lpBuffer == nullptr ? "buffer=null" : "buffer", static_cast<unsigned>(cbBufSize))) {
        return Fail(fault);
    }
    if (!KnownConfigLevel(dwInfoLevel)) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if (pcbBytesNeeded == nullptr || (lpBuffer == nullptr && cbBufSize != 0)) {
        return Fail(ERROR_INVALID_ADDRESS);
    }
    Service* service = nullptr;
    if (const DWORD error = ServiceFor(hService, SERVICE_QUERY_CONFIG, &service)) {
        return Fail(error);
    }
    ConfigLayout measure(nullptr);
    LayOutConfig(dwInfoLevel, service->optional, measure);
    const auto needed = static_cast<DWORD>(measure.Size());
    *pcbBytesNeeded = needed;
    if (cbBufSize < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER); // and the buffer stays untouched
    }
    ConfigLayout fill(lpBuffer);
    LayOutConfig(dwInfoLevel, service->optional, fill);
    return TRUE;
}
