// "install" and "uninstall" from the command line: what reaches the SCM, what the console shows
// character for character, the exit code and the log.
#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "service/service_base.h"
#include "tests/executable/entry_runner.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"

#include <string>
#include <vector>

namespace {

class InstallTest : public SimTest {
protected:
    static std::wstring RegisteredPath() {
        const auto service = sim::FindService(kServiceName);
        return service ? service->config.binaryPathName.value_or(L"(null)") : L"(none)";
    }
};

// --- Installation --------------------------------------------------------------------------

TEST_F(InstallTest, InstallRegistersTheServiceAndLogs) {
    LogCapture log;
    EXPECT_EQ(RunEntry({L"install"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\nService installed\n");
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"service installed"});

    EXPECT_EQ(sim::CallsTo("OpenSCManagerW"), std::vector<std::string>{"(null), (null), 0x3"});
    const auto calls = sim::CreateServiceCalls();
    ASSERT_EQ(calls.size(), 1u);
    const sim::CreateServiceCall& call = calls[0];
    EXPECT_EQ(call.config.name, L"HingeflowService");
    EXPECT_EQ(call.config.displayName, std::wstring(L"hingeflow tirgger service"));
    // What setting the privileges and a restart action takes, beside the status.
    EXPECT_EQ(call.desiredAccess,
              static_cast<DWORD>(SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG | SERVICE_START));
    EXPECT_EQ(call.config.serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(call.config.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(call.config.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(call.config.binaryPathName,
              std::wstring(L"\"C:\\Program Files\\hingeflow\\hingeflow.exe\""));
    EXPECT_EQ(call.config.loadOrderGroup, std::nullopt);
    EXPECT_FALSE(call.tagIdRequested);
    // Empty fields reach the SCM as absent values: no dependencies, the default account.
    EXPECT_EQ(call.config.dependencies, std::nullopt);
    EXPECT_EQ(call.config.serviceStartName, std::nullopt);
    EXPECT_EQ(call.config.password, std::nullopt);
    EXPECT_EQ(sim::FindService(kServiceName)->state, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(InstallTest, PathIsRegisteredInOnePairOfQuotesWithStrayQuotesRemoved) {
    const struct {
        std::wstring modulePath;
        std::wstring registered;
    } cases[] = {
        {L"C:\\hingeflow.exe", L"\"C:\\hingeflow.exe\""},
        {L"C:\\Program Files\\hingeflow.exe", L"\"C:\\Program Files\\hingeflow.exe\""},
        {L"\"C:\\Program Files\\hingeflow.exe\"", L"\"C:\\Program Files\\hingeflow.exe\""},
        {L"C:\\o\"dd\\hinge\"flow.exe\"\"", L"\"C:\\odd\\hingeflow.exe\""},
    };
    for (const auto& c : cases) {
        sim::Reset();
        sim::SetModuleFileName(c.modulePath);
        EXPECT_EQ(RunEntry({L"install"}), 0);
        EXPECT_EQ(RegisteredPath(), c.registered);
    }
}

TEST_F(InstallTest, InstallingTwiceReportsTheScmErrorTwice) {
    ASSERT_EQ(RunEntry({L"install"}), 0);
    sim::ClearConsoleOutput();
    LogCapture log;
    EXPECT_EQ(RunEntry({L"install"}), -1);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\n"
                                    L"Couldn't create service: 1073\n"
                                    L"Couldn't install service: 1073\n");
    EXPECT_TRUE(log.Messages().empty());
}

TEST_F(InstallTest, ScmThatCannotBeOpenedEndsEitherRole) {
    sim::SetScmAccess(0);
    EXPECT_EQ(RunEntry({L"install"}), -1);
    EXPECT_EQ(RunEntry({L"uninstall"}), -1);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\n"
                                    L"Couldn't open service control manager: 5\n"
                                    L"Couldn't install service: 5\n"
                                    L"Uninstalling service\n"
                                    L"Couldn't open service control manager: 5\n"
                                    L"Couldn't uninstall service: 5\n");
    EXPECT_EQ(sim::CountCalls("CreateServiceW"), 0);
}

// Paths beyond MAX_PATH are read whole rather than registered cut short.
TEST_F(InstallTest, LongPathsAreRegisteredWhole) {
    for (const std::size_t length : {259u, 260u, 1000u, 32767u}) {
        sim::Reset();
        const std::wstring path = L"C:\\" + std::wstring(length - 7, L'x') + L".exe";
        sim::SetModuleFileName(path);
        EXPECT_EQ(RunEntry({L"install"}), 0) << length;
        EXPECT_EQ(RegisteredPath(), L"\"" + path + L"\"") << length;
    }
    EXPECT_EQ(sim::CallsTo("GetModuleFileNameW"),
              (std::vector<std::string>{"(null), 260", "(null), 520", "(null), 1040",
                                        "(null), 2080", "(null), 4160", "(null), 8320",
                                        "(null), 16640", "(null), 32768"}));
}

TEST_F(InstallTest, PathThatCannotBeReadStopsBeforeTheScm) {
    sim::SetModuleFileName(L"C:\\" + std::wstring(32765, L'x')); // 32,768: beyond any path
    EXPECT_EQ(RunEntry({L"install"}), -1);
    sim::FailCall("GetModuleFileNameW", 1);
    EXPECT_EQ(RunEntry({L"install"}), -1);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\n"
                                    L"Couldn't get module file name: 122\n"
                                    L"Couldn't install service: 122\n"
                                    L"Installing service\n"
                                    L"Couldn't get module file name: 5\n"
                                    L"Couldn't install service: 5\n");
    EXPECT_EQ(sim::CountCalls("OpenSCManagerW"), 0);
}

// The frame passes whatever a service sets; this system's empty values are covered above.
TEST_F(InstallTest, NonEmptyDependenciesAccountAndPasswordArePassed) {
    struct Configured : ServiceBase {
        Configured()
            : ServiceBase(L"Other", L"Other service", SERVICE_DEMAND_START, 0, 0, L"Tcpip",
                          L".\\svc", L"secret") {}
        void onStart(DWORD, LPWSTR*) override {}
    } service;
    ASSERT_TRUE(service.InstallService());
    const sim::ScmServiceConfig config = sim::CreateServiceCalls().at(0).config;
    EXPECT_EQ(config.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.errorControl, 0u);
    EXPECT_EQ(config.dependencies, std::vector<std::wstring>{L"Tcpip"});
    EXPECT_EQ(config.serviceStartName, std::wstring(L".\\svc"));
    EXPECT_EQ(config.password, std::wstring(L"secret"));
    EXPECT_EQ(sim::ConsoleOutput(), L"");
}

// --- Least privilege and recovery ----------------------------------------------------------

TEST_F(InstallTest, ServiceKeepsOnePrivilegeIsRestartedAndDescribesItself) {
    ASSERT_EQ(RunEntry({L"install"}), 0);
    const sim::ScmOptionalConfig config = sim::FindService(kServiceName)->optional;
    EXPECT_EQ(config.requiredPrivileges, std::vector<std::wstring>{L"SeChangeNotifyPrivilege"});
    EXPECT_EQ(config.failureResetPeriodSeconds, 86400u);
    EXPECT_EQ(config.failureActions, (std::vector<sim::ScmFailureAction>{
                                         {SC_ACTION_RESTART, 60000},
                                         {SC_ACTION_RESTART, 60000},
                                         {SC_ACTION_NONE, 0},
                                     }));
    EXPECT_EQ(config.rebootMessage, std::nullopt);
    EXPECT_EQ(config.failureCommand, std::nullopt);
    EXPECT_EQ(config.description,
              std::wstring(L"Switches Windows between tablet and laptop mode as keyboards and mice "
                           L"are attached and detached, on convertibles that have no hinge "
                           L"sensor."));
}

// A setting the SCM refuses costs the service that protection, never its installation.
TEST_F(InstallTest, RefusedSettingIsOneLineAndTheInstallationStands) {
    const struct {
        int nth;
        bool persistent;
        DWORD code;
        std::wstring lines;
        bool privilegesSet;
        bool recoverySet;
        bool recoveryOnErrorsSet;
    } cases[] = {
        // 124: Wine's answer, which has no required privileges.
        {1, false, ERROR_INVALID_LEVEL, L"Couldn't set required privileges: 124\n", false, true,
         true},
        {2, false, ERROR_ACCESS_DENIED, L"Couldn't set failure actions: 5\n", true, false, false},
        {3, false, ERROR_INVALID_LEVEL,
         L"Couldn't set failure actions for a stop with an error: 124\n", true, true, false},
        {4, false, ERROR_ACCESS_DENIED, L"Couldn't set description: 5\n", true, true, true},
        {1, true, ERROR_ACCESS_DENIED,
         L"Couldn't set required privileges: 5\nCouldn't set failure actions: 5\n"
         L"Couldn't set description: 5\n",
         false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        sim::Reset();
        sim::FailCall("ChangeServiceConfig2W", c.nth, c.code, c.persistent);
        LogCapture log;
        EXPECT_EQ(RunEntry({L"install"}), 0);
        EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\n" + c.lines + L"Service installed\n");
        EXPECT_EQ(log.Messages(), std::vector<std::string>{"service installed"});
        const auto service = sim::FindService(kServiceName);
        ASSERT_TRUE(service.has_value());
        EXPECT_EQ(service->config.binaryPathName,
                  std::wstring(L"\"C:\\Program Files\\hingeflow\\hingeflow.exe\""));
        EXPECT_EQ(service->optional.requiredPrivileges.has_value(), c.privilegesSet);
        EXPECT_EQ(service->optional.failureActions.size(), c.recoverySet ? 3u : 0u);
        EXPECT_EQ(service->optional.failureActionsOnNonCrashFailures, c.recoveryOnErrorsSet);
    }
}

// Event Viewer finds the texts of the service's events in the installed executable itself.
TEST_F(InstallTest, InstallRegistersTheEventSourceAndUninstallRemovesIt) {
    const std::string key =
        "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\HingeflowService";
    const auto text = [&](const char* name) {
        const auto value = sim::GetRegistryValue(HKEY_LOCAL_MACHINE, key, name);
        if (!value || value->type != REG_EXPAND_SZ) {
            return std::wstring(L"(not REG_EXPAND_SZ)");
        }
        return std::wstring(reinterpret_cast<const wchar_t*>(value->data.data()));
    };
    // A source left by an installation elsewhere is taken over.
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, key, "EventMessageFile", "D:\\old.exe");
    sim::SetModuleFileName(L"C:\\Program Files\\hinge\"flow\\hingeflow.exe");
    ASSERT_EQ(RunEntry({L"install"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\nService installed\n");
    EXPECT_EQ(text("EventMessageFile"), L"C:\\Program Files\\hingeflow\\hingeflow.exe");
    EXPECT_EQ(text("CategoryMessageFile"), L"C:\\Program Files\\hingeflow\\hingeflow.exe");
    EXPECT_EQ(sim::GetRegistryDword(HKEY_LOCAL_MACHINE, key, "CategoryCount"), 2u);
    EXPECT_EQ(sim::GetRegistryDword(HKEY_LOCAL_MACHINE, key, "TypesSupported"),
              static_cast<DWORD>(EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE));
    EXPECT_EQ(sim::CallsTo("RegCreateKeyExW"),
              std::vector<std::string>{"HKLM\\" + key + " options=0x0 sam=0x2"});

    sim::ClearConsoleOutput();
    ASSERT_EQ(RunEntry({L"uninstall"}), 0);
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, key));
    // Removing what is not there is no failure: an older installation registered none.
    sim::AddService(InstalledHingeflow(), SERVICE_STOPPED);
    ASSERT_EQ(RunEntry({L"uninstall"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\nDidn't control service: 1062\n"
                                    L"Service uninstalled\n"
                                    L"Uninstalling service\nDidn't control service: 1062\n"
                                    L"Service uninstalled\n");

    // A path that Event Viewer would expand is refused; the service is installed all the same.
    sim::Reset();
    sim::SetModuleFileName(L"C:\\100%\\hingeflow.exe");
    EXPECT_EQ(RunEntry({L"install"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\nCouldn't register event source: 123\n"
                                    L"Service installed\n");
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, key));
    EXPECT_TRUE(sim::FindService(kServiceName).has_value());
}

// --- Removal -------------------------------------------------------------------------------

TEST_F(InstallTest, RemovingARunningServiceStopsItFirst) {
    sim::AddService(InstalledHingeflow(), SERVICE_RUNNING);
    sim::SetStopPendingQueries(kServiceName, 3);
    LogCapture log;
    EXPECT_EQ(RunEntry({L"uninstall"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Stoping service HingeflowService\n"
                                    L"Service stopped\n"
                                    L"Service uninstalled\n");
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"service uninstalled"});
    EXPECT_EQ(sim::CallsTo("OpenSCManagerW"), std::vector<std::string>{"(null), (null), 0x1"});
    ASSERT_EQ(sim::CallsTo("OpenServiceW").size(), 1u);
    EXPECT_NE(sim::CallsTo("OpenServiceW")[0].find("HingeflowService, 0x10024"), std::string::npos);
    EXPECT_FALSE(sim::FindService(kServiceName).has_value());
    // Three pending answers, a pause after each, and the fourth query sees it stopped.
    EXPECT_EQ(sim::CountCalls("QueryServiceStatus"), 4);
    EXPECT_EQ(sim::VirtualTimeMs(), 750u);
}

TEST_F(InstallTest, RemovingAStoppedServiceReportsTheRefusedStop) {
    sim::AddService(InstalledHingeflow(), SERVICE_STOPPED);
    EXPECT_EQ(RunEntry({L"uninstall"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Didn't control service: 1062\n"
                                    L"Service uninstalled\n");
    EXPECT_FALSE(sim::FindService(kServiceName).has_value());
}

TEST_F(InstallTest, RemovingAMissingServiceFails) {
    LogCapture log;
    EXPECT_EQ(RunEntry({L"uninstall"}), -1);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Couldn't open service: 1060\n"
                                    L"Couldn't uninstall service: 1060\n");
    EXPECT_TRUE(log.Messages().empty());
    EXPECT_EQ(sim::CountCalls("ControlService"), 0);
}

// The wait for a stop is bounded; the removal still goes on and only the deletion counts.
TEST_F(InstallTest, ServiceStuckInStopPendingIsGivenUpAfterThirtySeconds) {
    sim::AddService(InstalledHingeflow(), SERVICE_RUNNING);
    sim::SetStopPendingQueries(kServiceName, sim::kNeverStops);
    // Should the wait have no bound, the service stops at last and the test fails, not hangs.
    sim::SetSleepHook([](DWORD, int sleeps) {
        if (sleeps == 10000) {
            sim::SetServiceState(kServiceName, SERVICE_STOPPED);
        }
    });
    EXPECT_EQ(RunEntry({L"uninstall"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Stoping service HingeflowService\n"
                                    L"Failed to stop the service\n"
                                    L"Service uninstalled\n");
    EXPECT_EQ(sim::VirtualTimeMs(), 30000u);
    EXPECT_EQ(sim::CountCalls("Sleep"), 120);
    EXPECT_EQ(sim::CountCalls("QueryServiceStatus"), 121);
    ASSERT_TRUE(sim::FindService(kServiceName).has_value());
    EXPECT_TRUE(sim::FindService(kServiceName)->markedForDelete);

    // Removing it again meanwhile: the stop and the deletion are both refused.
    sim::ClearConsoleOutput();
    EXPECT_EQ(RunEntry({L"uninstall"}), -1);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Didn't control service: 1061\n"
                                    L"Failed to delete the service: 1072\n"
                                    L"Couldn't uninstall service: 1072\n");
}

TEST_F(InstallTest, FailedStatusQueryEndsTheWaitOnTheLastKnownState) {
    sim::AddService(InstalledHingeflow(), SERVICE_RUNNING);
    sim::FailCall("QueryServiceStatus", 1);
    EXPECT_EQ(RunEntry({L"uninstall"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Stoping service HingeflowService\n"
                                    L"Failed to stop the service\n"
                                    L"Service uninstalled\n");
    EXPECT_EQ(sim::VirtualTimeMs(), 0u);
}

TEST_F(InstallTest, RefusedDeletionFailsTheRemovalWhateverTheStop) {
    sim::AddService(InstalledHingeflow(), SERVICE_RUNNING);
    sim::SetStopPendingQueries(kServiceName, 0);
    sim::FailCall("DeleteService", 1);
    EXPECT_EQ(RunEntry({L"uninstall"}), -1);
    EXPECT_EQ(sim::ConsoleOutput(), L"Uninstalling service\n"
                                    L"Stoping service HingeflowService\n"
                                    L"Service stopped\n"
                                    L"Failed to delete the service: 5\n"
                                    L"Couldn't uninstall service: 5\n");
    EXPECT_EQ(sim::VirtualTimeMs(), 0u);
    ASSERT_TRUE(sim::FindService(kServiceName).has_value());
    EXPECT_FALSE(sim::FindService(kServiceName)->markedForDelete);
}

} // namespace
