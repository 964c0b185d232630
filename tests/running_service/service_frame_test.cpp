// The service frame under a played SCM: status sequences, hook dispatch, event data passed on
// untouched, and the event-log entry when the control handler cannot be registered.
#include "service/service_base.h"

#include "platform/process.h"
#include "platform/sim/service_runtime_control.h"
#include "tests/running_service/scm_script.h"
#include "tests/support/sim_test.h"

#include <chrono>
#include <future>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

constexpr DWORD kStopShutdownPower = 0x45;

// A hook call with the number of status reports the SCM had accepted when it ran.
std::string Call(const std::string& hook, std::size_t reportsBefore, DWORD eventType = 0,
                 const void* eventData = nullptr) {
    std::ostringstream out;
    out << hook << "@" << reportsBefore;
    if (eventType != 0 || eventData != nullptr) {
        out << " " << eventType << " " << eventData;
    }
    return out.str();
}

// Records every hook call; hooks run on two threads, so the record takes a lock.
class ProbeService : public ServiceBase {
public:
    ProbeService()
        : ServiceBase(L"ProbeService", L"probe", SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                      kStopShutdownPower, L"", L"", L"") {}

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    std::vector<std::wstring> startArguments;
    std::string throwFrom;               // a hook that throws after recording its call
    std::function<void()> whileStarting; // runs inside onStart, after its call is recorded

protected:
    void onStart(DWORD argc, LPWSTR* argv) override {
        startArguments.assign(argv, argv + argc);
        Record("onStart");
        if (whileStarting) {
            whileStarting();
        }
    }
    void OnStop() override { Record("OnStop"); }
    void OnPause() override { Record("OnPause"); }
    void OnContinue() override { Record("OnContinue"); }
    void OnShutdown() override { Record("OnShutdown"); }
    void OnDeviceEvent(DWORD type, LPVOID data) override { Record("OnDeviceEvent", type, data); }
    void onPowerEvent(DWORD type, LPVOID data) override { Record("onPowerEvent", type, data); }
    void OnSessionChange(DWORD type, LPVOID data) override {
        Record("OnSessionChange", type, data);
    }

private:
    void Record(const std::string& hook, DWORD type = 0, LPVOID data = nullptr) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back(Call(hook, sim::ReportedStatuses().size(), type, data));
        }
        if (hook == throwFrom) {
            throw std::runtime_error(hook);
        }
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

class ServiceFrameTest : public SimTest {
protected:
    void RunUnderScm(std::vector<sim::ServiceControl> controls,
                     std::vector<std::wstring> extraArguments = {}) {
        sim::PlayScm(std::move(controls), std::move(extraArguments));
        EXPECT_TRUE(ServiceBase::Run(probe));
    }

    ProbeService probe;
};

// Only dwCurrentState may differ from one report to the next.
void ExpectOnlyStatesVary() {
    for (const SERVICE_STATUS& status : sim::ReportedStatuses()) {
        EXPECT_EQ(status.dwServiceType, 0x10u);
        EXPECT_EQ(status.dwControlsAccepted, kStopShutdownPower);
        EXPECT_EQ(status.dwWin32ExitCode, 0u);
        EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(status.dwCheckPoint, 0u);
        EXPECT_EQ(status.dwWaitHint, 0u);
    }
}

TEST_F(ServiceFrameTest, StartThenStopReportsEachStateAroundItsHook) {
    EXPECT_EQ(probe.StatusHandle(), nullptr);
    RunUnderScm({Control(SERVICE_CONTROL_STOP)}, {L"-verbose", L""});

    EXPECT_EQ(g_service, &probe);
    EXPECT_EQ(sim::ReportedStates(), (std::vector<DWORD>{2, 4, 3, 1}));
    ExpectOnlyStatesVary();
    EXPECT_EQ(probe.Calls(), (Lines{Call("onStart", 1), Call("OnStop", 3)}));
    EXPECT_EQ(probe.startArguments, (std::vector<std::wstring>{L"ProbeService", L"-verbose", L""}));
    EXPECT_EQ(sim::CallsTo("RegisterServiceCtrlHandlerExW"),
              (std::vector<std::string>{"ProbeService, 0"}));
    EXPECT_NE(probe.StatusHandle(), nullptr);
}

TEST_F(ServiceFrameTest, PauseContinueAndShutdownRunTheirSequences) {
    RunUnderScm({Control(SERVICE_CONTROL_PAUSE), Control(SERVICE_CONTROL_CONTINUE),
                 Control(SERVICE_CONTROL_SHUTDOWN)});

    EXPECT_EQ(sim::ReportedStates(), (std::vector<DWORD>{2, 4, 6, 7, 5, 4, 1}));
    ExpectOnlyStatesVary();
    // Shutdown reports no pending state before its hook.
    EXPECT_EQ(probe.Calls(), (Lines{Call("onStart", 1), Call("OnPause", 3), Call("OnContinue", 5),
                                    Call("OnShutdown", 6)}));
}

TEST_F(ServiceFrameTest, EventControlsReachTheirHooksUntouchedAndReportNothing) {
    int device = 0;
    int power = 0;
    int session = 0;
    RunUnderScm({Control(SERVICE_CONTROL_DEVICEEVENT, 0x8000, &device),
                 Control(SERVICE_CONTROL_POWEREVENT, 18, &power),
                 Control(SERVICE_CONTROL_SESSIONCHANGE, 5, &session),
                 Control(SERVICE_CONTROL_DEVICEEVENT, 0xFFFFFFFFu, nullptr),
                 Control(SERVICE_CONTROL_STOP)});

    EXPECT_EQ(probe.Calls(),
              (Lines{Call("onStart", 1), Call("OnDeviceEvent", 2, 0x8000, &device),
                     Call("onPowerEvent", 2, 18, &power), Call("OnSessionChange", 2, 5, &session),
                     Call("OnDeviceEvent", 2, 0xFFFFFFFFu, nullptr), Call("OnStop", 3)}));
    EXPECT_EQ(sim::ReportedStates(), (std::vector<DWORD>{2, 4, 3, 1}));
}

TEST_F(ServiceFrameTest, EveryControlCodeIsAnsweredWithZeroAndUnknownOnesDoNothing) {
    g_service = &probe;
    int data = 0;
    for (DWORD code : {0u, 4u, 6u, 7u, 8u, 9u, 10u, 12u, 15u, 16u, 0x80u, 0xFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(ServiceBase::ControlHandler(code, 0x8000, &data, &data), 0u) << code;
    }
    EXPECT_TRUE(probe.Calls().empty());
    EXPECT_EQ(sim::CountCalls("SetServiceStatus"), 0);

    for (DWORD code : {1u, 2u, 3u, 5u, 11u, 13u, 14u}) {
        EXPECT_EQ(ServiceBase::ControlHandler(code, 0, nullptr, nullptr), 0u) << code;
    }
    EXPECT_EQ(probe.Calls().size(), 7u);
}

TEST_F(ServiceFrameTest, HandlerRegistrationFailureWritesOneErrorEventAndStartsNothing) {
    sim::FailCall("RegisterServiceCtrlHandlerExW", 1);
    RunUnderScm({Control(SERVICE_CONTROL_STOP)});

    EXPECT_EQ(probe.StatusHandle(), nullptr);
    EXPECT_TRUE(probe.Calls().empty());
    EXPECT_TRUE(sim::ReportedStatuses().empty());
    const std::vector<sim::ReportedEvent> events = sim::ReportedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, L"ProbeService");
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
    // The message table's own entry, so that Event Viewer can render it.
    EXPECT_EQ(events[0].category, 1);
    EXPECT_EQ(events[0].eventId, 0xC0000064u);
    EXPECT_FALSE(events[0].userSid);
    EXPECT_EQ(events[0].strings,
              (std::vector<std::wstring>{L"ProbeService", L"Can't set service control handler"}));
    EXPECT_EQ(events[0].rawDataSize, 0u);
    EXPECT_EQ(sim::CountCalls("DeregisterEventSource"), 1);

    // Without an event source the failure leaves no trace at all.
    sim::FailCall("RegisterServiceCtrlHandlerExW", 1);
    sim::FailCall("RegisterEventSourceW", 1);
    RunUnderScm({});
    EXPECT_EQ(sim::CountCalls("ReportEventW"), 1);
    EXPECT_TRUE(probe.Calls().empty());
    EXPECT_TRUE(sim::ReportedStatuses().empty());
}

TEST_F(ServiceFrameTest, ThrowingHooksAndRefusedReportsDoNotBreakTheSequence) {
    probe.throwFrom = "onStart";
    sim::FailCall("SetServiceStatus", 1); // START_PENDING is refused
    RunUnderScm({Control(SERVICE_CONTROL_STOP)});
    EXPECT_EQ(sim::ReportedStates(), (std::vector<DWORD>{4, 3, 1}));

    ProbeService stopping;
    stopping.throwFrom = "OnStop";
    sim::PlayScm({Control(SERVICE_CONTROL_STOP)});
    EXPECT_TRUE(ServiceBase::Run(stopping));
    EXPECT_EQ(sim::ReportedStates(), (std::vector<DWORD>{4, 3, 1, 2, 4, 3, 1}));
    EXPECT_EQ(stopping.Status().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

// Windows may end the process once STOPPED is out, and forbids any later report: a stop or
// shutdown handled while onStart still runs is the last report, RUNNING included, and Run
// returns only after ServiceMain has, since its caller destroys the object next.
TEST_F(ServiceFrameTest, StopOrShutdownDuringOnStartIsTheLastReport) {
    const struct {
        DWORD control;
        std::vector<DWORD> states;
    } cases[] = {{SERVICE_CONTROL_STOP, {2, 3, 1}}, {SERVICE_CONTROL_SHUTDOWN, {2, 1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        sim::Reset();
        ProbeService service;
        std::promise<void> started;
        const std::shared_future<void> onStartRuns = started.get_future().share();
        bool startReturned = false;
        service.whileStarting = [&] {
            started.set_value();
            EXPECT_TRUE(sim::WaitForServiceControlsDelivered(1));
            // Long enough for a Run that did not wait to return first.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            startReturned = true;
        };
        sim::ServiceControl control = Control(c.control);
        control.whileStartPending = true;
        control.beforeDelivery = [onStartRuns] { onStartRuns.wait(); };
        sim::PlayScm({control});

        EXPECT_TRUE(ServiceBase::Run(service));
        EXPECT_TRUE(startReturned);
        EXPECT_EQ(sim::ReportedStates(), c.states);
        // Not even attempted: Windows may have ended the process by then.
        EXPECT_EQ(sim::CountCalls("SetServiceStatus"), static_cast<int>(c.states.size()));
        EXPECT_EQ(ServiceBase::ControlHandler(SERVICE_CONTROL_CONTINUE, 0, nullptr, nullptr), 0u);
        EXPECT_EQ(sim::CountCalls("SetServiceStatus"), static_cast<int>(c.states.size()));
        EXPECT_EQ(service.Calls().back(), Call("OnContinue", c.states.size()));
    }
}

TEST_F(ServiceFrameTest, OutsideTheScmRunFailsAtOnce) {
    EXPECT_FALSE(ServiceBase::Run(probe));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
    EXPECT_EQ(g_service, &probe);
    EXPECT_TRUE(probe.Calls().empty());
    EXPECT_TRUE(sim::ReportedStatuses().empty());
}

} // namespace
