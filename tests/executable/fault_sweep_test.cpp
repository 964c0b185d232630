// Every faultable platform call of installation and removal failed in turn: each failure gives
// the console lines and exit code of its step, and no handle stays open.
#include "platform/sim/control.h"
#include "tests/executable/entry_runner.h"
#include "tests/support/sim_test.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

class FaultSweepTest : public SimTest {
protected:
    // The operation behind the nth faultable call of the journal, and "op#k" for its kth call.
    static std::pair<std::string, std::string> NthFaultableOp(int nth) {
        std::map<std::string, int> seen;
        for (const sim::Call& call : sim::Journal()) {
            const int occurrence = ++seen[call.op];
            if (call.faultable && --nth == 0) {
                return {call.op, call.op + "#" + std::to_string(occurrence)};
            }
        }
        return {"(none)", "(none)"};
    }

    struct Outcome {
        int exitCode;
        std::wstring console;
    };

    // Runs `role` once without faults to count its calls, then once per call with that call
    // failed, each time from the state `prepare` sets up. An outcome is keyed by the operation,
    // or by "op#k" where its calls differ.
    template <typename Prepare>
    void Sweep(const std::wstring& role, Prepare prepare,
               const std::map<std::string, Outcome>& expected) {
        prepare();
        ASSERT_EQ(RunEntry({role}), 0);
        const int calls = sim::FaultableCallCount();
        ASSERT_GE(calls, static_cast<int>(expected.size()));
        for (int nth = 1; nth <= calls; ++nth) {
            sim::Reset();
            prepare();
            sim::FailAnyCall(nth);
            const int exitCode = RunEntry({role});
            const auto [name, numbered] = NthFaultableOp(nth);
            const std::string op = expected.count(numbered) != 0 ? numbered : name;
            SCOPED_TRACE("call " + std::to_string(nth) + ": " + numbered);
            EXPECT_EQ(sim::FaultsFired(), 1);
            ASSERT_EQ(expected.count(op), 1u);
            EXPECT_EQ(exitCode, expected.at(op).exitCode);
            EXPECT_EQ(sim::ConsoleOutput(), expected.at(op).console);
            EXPECT_EQ(sim::OpenHandleCount(), 0);
        }
    }
};

TEST_F(FaultSweepTest, Install) {
    Sweep(L"install", [] {},
          {
              // The log's path unread: logging stays off, and nothing else changes.
              {"RegOpenKeyExA", {0, L"Installing service\nService installed\n"}},
              {"RegQueryValueExA", {0, L"Installing service\nService installed\n"}},
              {"GetModuleFileNameW",
               {-1, L"Installing service\nCouldn't get module file name: 5\n"
                    L"Couldn't install service: 5\n"}},
              {"OpenSCManagerW",
               {-1, L"Installing service\nCouldn't open service control manager: 5\n"
                    L"Couldn't install service: 5\n"}},
              {"CreateServiceW",
               {-1, L"Installing service\nCouldn't create service: 5\n"
                    L"Couldn't install service: 5\n"}},
              {"ChangeServiceConfig2W#1",
               {0, L"Installing service\nCouldn't set required privileges: 5\n"
                   L"Service installed\n"}},
              {"ChangeServiceConfig2W#2",
               {0, L"Installing service\nCouldn't set failure actions: 5\nService installed\n"}},
              {"ChangeServiceConfig2W#3",
               {0, L"Installing service\nCouldn't set failure actions for a stop with an error: "
                   L"5\nService installed\n"}},
              {"ChangeServiceConfig2W#4",
               {0, L"Installing service\nCouldn't set description: 5\nService installed\n"}},
              // The event source is Event Viewer's help, not the service: it stays installed.
              {"RegCreateKeyExW",
               {0, L"Installing service\nCouldn't register event source: 5\nService installed\n"}},
              {"RegSetValueExW",
               {0, L"Installing service\nCouldn't register event source: 5\nService installed\n"}},
          });
}

TEST_F(FaultSweepTest, UninstallOfARunningService) {
    Sweep(L"uninstall",
          [] {
              sim::AddService(InstalledHingeflow(), SERVICE_RUNNING);
              sim::SetStopPendingQueries(kServiceName, 1);
          },
          {
              {"RegOpenKeyExA",
               {0, L"Uninstalling service\nStoping service HingeflowService\nService stopped\n"
                   L"Service uninstalled\n"}},
              {"RegQueryValueExA",
               {0, L"Uninstalling service\nStoping service HingeflowService\nService stopped\n"
                   L"Service uninstalled\n"}},
              {"OpenSCManagerW",
               {-1, L"Uninstalling service\nCouldn't open service control manager: 5\n"
                    L"Couldn't uninstall service: 5\n"}},
              {"OpenServiceW",
               {-1, L"Uninstalling service\nCouldn't open service: 1060\n"
                    L"Couldn't uninstall service: 1060\n"}},
              {"ControlService",
               {0, L"Uninstalling service\nDidn't control service: 1062\nService uninstalled\n"}},
              // Either query failing leaves the last state read: still stopping.
              {"QueryServiceStatus",
               {0, L"Uninstalling service\nStoping service HingeflowService\n"
                   L"Failed to stop the service\nService uninstalled\n"}},
              {"DeleteService",
               {-1, L"Uninstalling service\nStoping service HingeflowService\nService stopped\n"
                    L"Failed to delete the service: 5\nCouldn't uninstall service: 5\n"}},
              {"RegDeleteTreeW",
               {0, L"Uninstalling service\nStoping service HingeflowService\nService stopped\n"
                   L"Couldn't remove event source: 5\nService uninstalled\n"}},
          });
}

} // namespace
