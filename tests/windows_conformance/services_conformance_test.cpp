// How the service control manager answers installation and removal, and what the service-side
// calls do in a process that the SCM did not start.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/device_interface_classes.h"
#include "platform/device_notification.h"
#include "platform/event_log.h"
#include "platform/process.h"
#include "platform/services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>

namespace {

constexpr const wchar_t* kName = L"HingeflowConformance";
constexpr const wchar_t* kImagePath = L"\"C:\\hingeflow conformance\\none.exe\"";
constexpr DWORD kUninstallAccess = DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS;
constexpr DWORD kDuplicateServiceName = 1078; // ERROR_DUPLICATE_SERVICE_NAME
constexpr DWORD kUntouched = 0xdeadbeef;

void WINAPI NoServiceMain(DWORD, LPWSTR*) {}
DWORD WINAPI NoControlHandler(DWORD, DWORD, LPVOID, LPVOID) {
    return NO_ERROR;
}

class ServicesConformance : public ::testing::Test {
protected:
    void SetUp() override {
        seed::ResetPlatform();
        scm_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
        ASSERT_NE(scm_, nullptr);
    }
    void TearDown() override {
        if (SC_HANDLE service = OpenServiceW(scm_, kName, DELETE)) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        EXPECT_TRUE(CloseServiceHandle(scm_));
    }

    SC_HANDLE Create(SC_HANDLE scm, const wchar_t* name = kName,
                     const wchar_t* displayName = L"hingeflow conformance") {
        return CreateServiceW(scm, name, displayName, SERVICE_QUERY_STATUS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              kImagePath, nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    SC_HANDLE scm_ = nullptr;
};

TEST_F(ServicesConformance, NewServiceIsStoppedAndCannotBeCreatedTwice) {
    SC_HANDLE created = Create(scm_);
    ASSERT_NE(created, nullptr);
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(created, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));

    SetLastError(kUntouched);
    EXPECT_EQ(Create(scm_), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    SetLastError(kUntouched);
    EXPECT_EQ(Create(scm_, L"HingeflowConformanceOther", L"hingeflow conformance"), nullptr);
    EXPECT_EQ(GetLastError(), kDuplicateServiceName);
    EXPECT_TRUE(CloseServiceHandle(created));
}

// What status reads back: the size asked for first, then the record and its strings, with the
// SCM's own answers where installation passed none; a handle without the right reads nothing.
TEST_F(ServicesConformance, ConfigurationReadsBackWhatInstallationRegistered) {
    SC_HANDLE created = Create(scm_);
    ASSERT_NE(created, nullptr);
    SC_HANDLE service = OpenServiceW(scm_, kName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    ASSERT_NE(service, nullptr);
    DWORD needed = kUntouched;
    SetLastError(kUntouched);
    EXPECT_FALSE(QueryServiceConfigW(service, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGW));
    ASSERT_LE(needed, 8192u);
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    ASSERT_TRUE(QueryServiceConfigW(service, config, needed, &needed));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_STREQ(config->lpBinaryPathName, kImagePath);
    EXPECT_STREQ(config->lpDisplayName, L"hingeflow conformance");
    EXPECT_STREQ(config->lpServiceStartName, L"LocalSystem");
    EXPECT_STREQ(config->lpLoadOrderGroup, L"");
    EXPECT_STREQ(config->lpDependencies, L"");
    EXPECT_TRUE(CloseServiceHandle(service));

    SetLastError(kUntouched);
    EXPECT_FALSE(QueryServiceConfigW(created, config, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseServiceHandle(created));
}

TEST_F(ServicesConformance, HandlesCarryOnlyTheAccessAskedFor) {
    SC_HANDLE connectOnly = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(connectOnly, nullptr);
    SetLastError(kUntouched);
    EXPECT_EQ(Create(connectOnly), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseServiceHandle(connectOnly));

    // Installation asks for SERVICE_QUERY_STATUS alone.
    SC_HANDLE created = Create(scm_);
    ASSERT_NE(created, nullptr);
    SERVICE_STATUS status{};
    SetLastError(kUntouched);
    EXPECT_FALSE(DeleteService(created));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SetLastError(kUntouched);
    EXPECT_FALSE(ControlService(created, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseServiceHandle(created));
}

TEST_F(ServicesConformance, MissingServiceDoesNotExist) {
    SetLastError(kUntouched);
    EXPECT_EQ(OpenServiceW(scm_, kName, kUninstallAccess), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServicesConformance, StoppingAStoppedServiceIsNotActive) {
    SC_HANDLE created = Create(scm_);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(CloseServiceHandle(created));
    SC_HANDLE service = OpenServiceW(scm_, kName, kUninstallAccess);
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status{};
    SetLastError(kUntouched);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_TRUE(CloseServiceHandle(service));
}

TEST_F(ServicesConformance, DeletedServiceStaysMarkedUntilItsLastHandleCloses) {
    SC_HANDLE created = Create(scm_);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(CloseServiceHandle(created));
    SC_HANDLE service = OpenServiceW(scm_, kName, kUninstallAccess);
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(DeleteService(service));

    SetLastError(kUntouched);
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    SetLastError(kUntouched);
    EXPECT_EQ(Create(scm_), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

    EXPECT_TRUE(CloseServiceHandle(service));
    SetLastError(kUntouched);
    EXPECT_EQ(OpenServiceW(scm_, kName, kUninstallAccess), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

// The optional configuration at each level the system sets, each set with exactly the rights
// it needs and read back in Windows' protocol: the size needed, a buffer one byte short left
// untouched, then the record with what it points to inside a buffer of that size.
TEST_F(ServicesConformance, OptionalConfigurationIsReadBackAsSet) {
    SC_HANDLE created = Create(scm_);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(CloseServiceHandle(created));

    WCHAR description[] = L"hingeflow conformance";
    SERVICE_DESCRIPTIONW descriptionInfo{description};
    SC_ACTION actions[] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failureInfo{86400, nullptr, nullptr, 2, actions};
    WCHAR privileges[] = L"SeChangeNotifyPrivilege\0";
    SERVICE_REQUIRED_PRIVILEGES_INFOW privilegesInfo{privileges};
    SERVICE_FAILURE_ACTIONS_FLAG flagInfo{TRUE};

    const struct {
        const char* level;
        DWORD code;
        void* info;
        DWORD access; // what the change needs
        std::size_t recordSize;
        std::function<void(const BYTE*)> check;
        // Measured under Wine 8, which has no required privileges and stores no failure actions.
        bool wineChanges;
        bool wineReadsBack;
    } cases[] = {
        {"description", SERVICE_CONFIG_DESCRIPTION, &descriptionInfo, SERVICE_CHANGE_CONFIG,
         sizeof(SERVICE_DESCRIPTIONW),
         [&](const BYTE* buffer) {
             EXPECT_STREQ(reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer)->lpDescription,
                          description);
         },
         true, true},
        {"failure actions", SERVICE_CONFIG_FAILURE_ACTIONS, &failureInfo,
         SERVICE_CHANGE_CONFIG | SERVICE_START, sizeof(SERVICE_FAILURE_ACTIONSW),
         [](const BYTE* buffer) {
             const auto* read = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer);
             EXPECT_EQ(read->dwResetPeriod, 86400u);
             ASSERT_EQ(read->cActions, 2u);
             EXPECT_EQ(read->lpsaActions[0].Type, SC_ACTION_RESTART);
             EXPECT_EQ(read->lpsaActions[0].Delay, 60000u);
             EXPECT_EQ(read->lpsaActions[1].Type, SC_ACTION_NONE);
         },
         true, false},
        {"required privileges", SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privilegesInfo,
         SERVICE_CHANGE_CONFIG, sizeof(SERVICE_REQUIRED_PRIVILEGES_INFOW),
         [](const BYTE* buffer) {
             const WCHAR* list = reinterpret_cast<const SERVICE_REQUIRED_PRIVILEGES_INFOW*>(buffer)
                                     ->pmszRequiredPrivileges;
             ASSERT_NE(list, nullptr);
             EXPECT_STREQ(list, L"SeChangeNotifyPrivilege");
             EXPECT_EQ(list[std::wcslen(list) + 1], 0) << "the list has one name";
         },
         false, false},
        {"failure actions on errors", SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flagInfo,
         SERVICE_CHANGE_CONFIG, sizeof(SERVICE_FAILURE_ACTIONS_FLAG),
         [](const BYTE* buffer) {
             EXPECT_EQ(reinterpret_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(buffer)
                           ->fFailureActionsOnNonCrashFailures,
                       TRUE);
         },
         false, false},
    };
    std::string wineDifferences;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        SC_HANDLE service = OpenServiceW(scm_, kName, c.access | SERVICE_QUERY_CONFIG);
        ASSERT_NE(service, nullptr);
        SetLastError(kUntouched);
        const BOOL changed = ChangeServiceConfig2W(service, c.code, c.info);
        const DWORD changeError = changed ? 0 : GetLastError();
        DWORD needed = kUntouched;
        SetLastError(kUntouched);
        EXPECT_FALSE(QueryServiceConfig2W(service, c.code, nullptr, 0, &needed));
        const DWORD sizeError = GetLastError();
        if (seed::OnWine() && !c.wineReadsBack) {
            EXPECT_EQ(changed, c.wineChanges ? TRUE : FALSE);
            EXPECT_EQ(changeError, c.wineChanges ? 0u : static_cast<DWORD>(ERROR_INVALID_LEVEL));
            EXPECT_EQ(sizeError, static_cast<DWORD>(ERROR_INVALID_LEVEL));
            wineDifferences += std::string(wineDifferences.empty() ? "" : "; ") + c.level +
                               (c.wineChanges ? " are taken but cannot be read back (124)"
                                              : " are refused and cannot be read back (124)");
            EXPECT_TRUE(CloseServiceHandle(service));
            continue;
        }
        EXPECT_TRUE(changed) << "error " << changeError;
        EXPECT_EQ(sizeError, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ASSERT_GE(needed, c.recordSize);

        alignas(8) BYTE buffer[4096];
        ASSERT_LE(needed, sizeof buffer);
        std::memset(buffer, 0xcc, sizeof buffer);
        DWORD again = kUntouched;
        SetLastError(kUntouched);
        EXPECT_FALSE(QueryServiceConfig2W(service, c.code, buffer, needed - 1, &again));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(again, needed);
        EXPECT_EQ(std::count(buffer, buffer + sizeof buffer, BYTE{0xcc}),
                  static_cast<std::ptrdiff_t>(sizeof buffer));
        EXPECT_TRUE(QueryServiceConfig2W(service, c.code, buffer, needed, &again));
        c.check(buffer);
        EXPECT_TRUE(CloseServiceHandle(service));
    }
    SKIP_WHERE_WINE_DIFFERS(!wineDifferences.empty(), wineDifferences);
}

// What the SCM turns away: a change without SERVICE_CHANGE_CONFIG, a restart action without
// SERVICE_START (the SCM would start the service for the caller), a query without
// SERVICE_QUERY_CONFIG, without a place for the size, or of a level it does not know.
TEST_F(ServicesConformance, OptionalConfigurationNeedsItsRightsAndAKnownLevel) {
    SC_HANDLE created = Create(scm_);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(CloseServiceHandle(created));

    WCHAR description[] = L"hingeflow conformance";
    SERVICE_DESCRIPTIONW descriptionInfo{description};
    SC_ACTION restart[] = {{SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW restartInfo{86400, nullptr, nullptr, 1, restart};
    constexpr DWORD kUnknownLevel = 0xfff0;

    const struct {
        const char* what;
        DWORD access;
        bool query;
        DWORD level;
        void* info;
        bool withSize;
        DWORD error;
        bool wineAccepts; // measured under Wine 8
    } cases[] = {
        {"change without SERVICE_CHANGE_CONFIG", SERVICE_ALL_ACCESS & ~SERVICE_CHANGE_CONFIG, false,
         SERVICE_CONFIG_DESCRIPTION, &descriptionInfo, true, ERROR_ACCESS_DENIED, false},
        {"restart action without SERVICE_START", SERVICE_CHANGE_CONFIG, false,
         SERVICE_CONFIG_FAILURE_ACTIONS, &restartInfo, true, ERROR_ACCESS_DENIED, true},
        {"query without SERVICE_QUERY_CONFIG", SERVICE_ALL_ACCESS & ~SERVICE_QUERY_CONFIG, true,
         SERVICE_CONFIG_DESCRIPTION, nullptr, true, ERROR_ACCESS_DENIED, false},
        {"query without a place for the size", SERVICE_QUERY_CONFIG, true,
         SERVICE_CONFIG_DESCRIPTION, nullptr, false, ERROR_INVALID_ADDRESS, false},
        {"query of an unknown level", SERVICE_QUERY_CONFIG, true, kUnknownLevel, nullptr, true,
         ERROR_INVALID_LEVEL, false},
    };
    std::string wineDifferences;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SC_HANDLE service = OpenServiceW(scm_, kName, c.access);
        ASSERT_NE(service, nullptr);
        alignas(8) BYTE buffer[256];
        DWORD needed = kUntouched;
        SetLastError(kUntouched);
        const BOOL done = c.query ? QueryServiceConfig2W(service, c.level, buffer, sizeof buffer,
                                                         c.withSize ? &needed : nullptr)
                                  : ChangeServiceConfig2W(service, c.level, c.info);
        const DWORD error = GetLastError();
        EXPECT_TRUE(CloseServiceHandle(service));
        if (seed::OnWine() && c.wineAccepts) {
            EXPECT_TRUE(done);
            wineDifferences += c.what;
            continue;
        }
        EXPECT_FALSE(done);
        EXPECT_EQ(error, c.error);
    }
    SKIP_WHERE_WINE_DIFFERS(!wineDifferences.empty(), "it accepts a " + wineDifferences);
}

TEST_F(ServicesConformance, ClosingNoHandleIsInvalidHandle) {
    SetLastError(kUntouched);
    EXPECT_FALSE(CloseServiceHandle(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// Outside the SCM: the dispatcher cannot connect (under Wine only after about 10 s) and the
// control handler cannot be registered.
TEST(ServiceProcessConformance, ServiceCallsFailOutsideTheScm) {
    seed::ResetPlatform();
    wchar_t name[] = L"HingeflowConformance";
    const SERVICE_TABLE_ENTRYW table[] = {{name, NoServiceMain}, {nullptr, nullptr}};
    SetLastError(kUntouched);
    EXPECT_FALSE(StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));

    EXPECT_EQ(RegisterServiceCtrlHandlerExW(name, NoControlHandler, nullptr), nullptr);
}

TEST(ServiceProcessConformance, EventSourceTakesAnErrorEventWithTwoStrings) {
    seed::ResetPlatform();
    HANDLE source = RegisterEventSourceW(nullptr, L"HingeflowService");
    ASSERT_NE(source, nullptr);
    LPCWSTR strings[] = {L"HingeflowService", L"Can't set service control handler"};
    EXPECT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr));
    EXPECT_TRUE(DeregisterEventSource(source));
}

// The filter the trigger service registers: a device-interface record for USB devices.
struct UsbFilter {
    UsbFilter() {
        auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes);
        record->dbcc_size = 32;
        record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        record->dbcc_classguid = interface_class::kUsbDevice;
    }
    alignas(DEV_BROADCAST_DEVICEINTERFACE_W) BYTE bytes[1024] = {};
};

TEST(ServiceProcessConformance, FilterThatIsNoDeviceInterfaceRecordIsInvalidData) {
    seed::ResetPlatform();
    BYTE empty[1024] = {};
    SetLastError(kUntouched);
    EXPECT_EQ(RegisterDeviceNotificationW(nullptr, empty, DEVICE_NOTIFY_SERVICE_HANDLE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
}

// Outside a service there is no status handle to receive events: Windows refuses a null
// recipient.
TEST(ServiceProcessConformance, NotificationNeedsAServiceExceptUnderWine) {
    seed::ResetPlatform();
    UsbFilter filter;
    const HDEVNOTIFY handle =
        RegisterDeviceNotificationW(nullptr, filter.bytes, DEVICE_NOTIFY_SERVICE_HANDLE);
    if (handle != nullptr) {
        EXPECT_TRUE(UnregisterDeviceNotification(handle));
    }
    SKIP_WHERE_WINE_DIFFERS(handle != nullptr, "it registers a null recipient");
    EXPECT_EQ(handle, nullptr);
}

} // namespace
