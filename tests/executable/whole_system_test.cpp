// The whole system from the command line: installed, run by a played SCM through a keyboard
// dock arriving, leaving and a resume, stopped, removed.
#include "config/config_values.h"
#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/service_runtime_control.h"
#include "platform/sim/setupapi_control.h"
#include "tests/executable/entry_runner.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/hingeflow_service.h"
#include "trigger/slate_mode.h"

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

// Delivered once the service has decided every event before it, then `before` changes the world.
sim::ServiceControl Control(DWORD code, DWORD eventType, std::function<void()> before) {
    sim::ServiceControl control;
    control.control = code;
    control.eventType = eventType;
    control.beforeDelivery = [before = std::move(before)] {
        ASSERT_TRUE(static_cast<HingeflowService*>(g_service)->WaitUntilDecided());
        if (before) {
            before();
        }
    };
    return control;
}

// A tablet with one built-in keyboard; a dock adds a mouse and a second keyboard.
class WholeSystemTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, 0);
        sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 1);
        sim::AddHidKeyboard();
    }

    void Dock(bool present) {
        if (dockMouse_ == 0) {
            dockMouse_ = sim::AddHidMouse();
            dockKeyboard_ = sim::AddHidKeyboard();
        }
        sim::SetDevicePresent(dockMouse_, present);
        sim::SetDevicePresent(dockKeyboard_, present);
    }

    // Whether `expected` appears in `messages` in this order, other lines between allowed.
    static bool InOrder(const std::vector<std::string>& messages,
                        const std::vector<std::string>& expected) {
        std::size_t next = 0;
        for (const std::string& message : messages) {
            if (next < expected.size() && message == expected[next]) {
                ++next;
            }
        }
        return next == expected.size();
    }

    int dockMouse_ = 0;
    int dockKeyboard_ = 0;
};

TEST_F(WholeSystemTest, InstallRunThroughDockingAndResumeThenRemove) {
    LogCapture log;
    ASSERT_EQ(RunEntry({L"install"}), 0);

    sim::PlayScm({
        Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, [this] { Dock(true); }),
        Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, [this] { Dock(false); }),
        Control(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, [this] { Dock(true); }),
        Control(SERVICE_CONTROL_STOP, 0, nullptr),
    });
    EXPECT_EQ(RunEntry({}), 0);

    ASSERT_EQ(RunEntry({L"uninstall"}), 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\n"
                                    L"Service installed\n"
                                    L"Uninstalling service\n"
                                    L"Didn't control service: 1062\n"
                                    L"Service uninstalled\n");
    EXPECT_EQ(sim::ServiceCount(), 0);

    // Forced laptop mode at start-up, then the start's decision without the dock: tablet mode.
    // Laptop, tablet, laptop follow within 5 s of it, so none passes through 10.
    EXPECT_EQ(sim::DwordWritesTo(kSlateModeValue), (std::vector<DWORD>{1, 0, 1, 0, 1}));
    EXPECT_EQ(sim::ReportedStates(), (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING,
                                                         SERVICE_STOP_PENDING, SERVICE_STOPPED}));
    // USB devices, keyboards and mice, all released at the stop.
    ASSERT_EQ(sim::DeviceNotificationRegistrations().size(), 3u);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 0);
    EXPECT_TRUE(InOrder(log.Messages(),
                        {"service installed", "HingeflowService onStart",
                         "start decision: enter tablet mode: 1", "DBT_DEVICEARRIVAL",
                         "exit tablet mode: 1", "DBT_DEVICEREMOVECOMPLETE", "enter tablet mode: 1",
                         "onPowerEvent: 18", "resume and exit tablet mode: 1",
                         "HingeflowService OnStop", "service uninstalled"}));
}

// Removal while the service runs: the SCM hands the stop to the running process, which reports
// its way to SERVICE_STOPPED before the removal goes on.
TEST_F(WholeSystemTest, RemovingTheRunningServiceStopsItThroughTheScm) {
    ASSERT_EQ(RunEntry({L"install"}), 0);
    sim::SetServiceState(kServiceName, SERVICE_RUNNING);
    std::promise<void> stopRequested;
    std::shared_future<void> stopRequestedFuture = stopRequested.get_future().share();
    bool stopHanded = false; // the hook runs on this thread, inside the removal's ControlService
    sim::SetStopRequestHook([&stopRequested, &stopHanded](const std::wstring& name) {
        stopHanded = true;
        stopRequested.set_value();
        EXPECT_TRUE(sim::WaitForServiceControlsDelivered(2));
        sim::SetServiceState(name, sim::ReportedStates().back());
    });
    sim::PlayScm({
        Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, [this] { Dock(true); }),
        Control(SERVICE_CONTROL_STOP, 0, [stopRequestedFuture] { stopRequestedFuture.wait(); }),
    });

    std::atomic<int> serviceExit{1};
    std::thread serviceProcess([&serviceExit] { serviceExit = RunEntry({}); });
    EXPECT_TRUE(sim::WaitForServiceControlsDelivered(1));
    const int uninstallExit = RunEntry({L"uninstall"});
    if (!stopHanded) {
        stopRequested.set_value(); // lets the played SCM end the service after a failed removal
    }
    serviceProcess.join();

    EXPECT_EQ(uninstallExit, 0);
    EXPECT_EQ(serviceExit, 0);
    EXPECT_EQ(sim::ConsoleOutput(), L"Installing service\n"
                                    L"Service installed\n"
                                    L"Uninstalling service\n"
                                    L"Stoping service HingeflowService\n"
                                    L"Service stopped\n"
                                    L"Service uninstalled\n");
    EXPECT_EQ(sim::ServiceCount(), 0);
    EXPECT_EQ(sim::ReportedStates().back(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sim::DwordWritesTo(kSlateModeValue), (std::vector<DWORD>{1, 0, 1}));
}

// Started by the SCM, the service decides once from what is attached, as a removal followed by
// an arrival would: tablet mode without the dock, laptop mode with it, not forced, so that the
// value the start-up switch wrote is not written twice over.
TEST_F(WholeSystemTest, AStartDecidesFromWhatIsAttached) {
    for (const bool docked : {false, true}) {
        SCOPED_TRACE(docked ? "docked" : "undocked");
        sim::ClearJournal();
        LogCapture log;
        Dock(docked);
        sim::PlayScm({Control(SERVICE_CONTROL_STOP, 0, nullptr)});
        EXPECT_EQ(RunEntry({}), 0);
        EXPECT_EQ(sim::DwordWritesTo(kSlateModeValue), (std::vector<DWORD>{1, docked ? 1u : 0u}));
        EXPECT_TRUE(InOrder(log.Messages(), {docked ? "start decision: exit tablet mode: 1"
                                                    : "start decision: enter tablet mode: 1",
                                             "HingeflowService OnStop"}));
    }
}

} // namespace
