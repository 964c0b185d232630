// What the simulated console and SCM do beyond the cases tests/windows_conformance shares with
// Wine: C99 wide formatting, and a stop that stays pending for as long as a test says.
#include "platform/console.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/sim/console_control.h"
#include "platform/sim/scm_database_control.h"
#include "tests/support/sim_test.h"

#include <vector>

namespace {

class ScmSimulatorTest : public SimTest {};

TEST_F(ScmSimulatorTest, ConsoleFormatsAsC99Wprintf) {
    // %s names narrow text in C99, as in mingw-w64's wprintf: a wide argument there is a fault.
    ConsolePrintf(L"%ls|%d|%s\n", L"wide", -1, "narrow");
    EXPECT_EQ(sim::ConsoleOutput(), L"wide|-1|narrow\n");
}

TEST_F(ScmSimulatorTest, StopStaysPendingForTheQueriesTheTestSets) {
    sim::ScmServiceConfig config;
    config.name = L"Svc";
    config.binaryPathName = L"C:\\svc.exe";
    sim::AddService(config, SERVICE_RUNNING);
    sim::SetStopPendingQueries(L"Svc", 2);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"svc", SERVICE_STOP | SERVICE_QUERY_STATUS);

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    // A second request while the first is pending is refused, with the status filled in.
    status = SERVICE_STATUS{};
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));

    std::vector<DWORD> states;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(QueryServiceStatus(service, &status));
        states.push_back(status.dwCurrentState);
    }
    EXPECT_EQ(states,
              (std::vector<DWORD>{SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

} // namespace
