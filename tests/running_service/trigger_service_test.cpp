// The trigger service's hooks: the notification registration, what each device and power event
// logs and writes, and what stop and shutdown leave behind.
#include "trigger/hingeflow_service.h"

#include "config/config_values.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/service_runtime_control.h"
#include "platform/sim/setupapi_control.h"
#include "tests/running_service/scm_script.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <optional>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using Values = std::vector<DWORD>;

// Never dereferenced: the hooks must not look at the event data.
LPVOID const kOpaqueData = reinterpret_cast<LPVOID>(0x1);

// A laptop with one built-in HID keyboard, configured to trigger on keyboards, in laptop mode.
class TriggerServiceTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        log.emplace();
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, 1);
        sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue,
                               "keyboard");
        sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 1);
        sim::AddHidKeyboard();
    }
    void TearDown() override {
        log.reset();
        SimTest::TearDown();
    }

    static void SetSlate(DWORD value) {
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, value);
    }
    static Values Writes() { return sim::DwordWritesTo(kSlateModeValue); }

    std::optional<LogCapture> log;
    HingeflowService service;
};

TEST_F(TriggerServiceTest, StartRegistersForUsbDeviceInterfacesAndStopReleasesThemOnce) {
    sim::PlayScm({Control(SERVICE_CONTROL_STOP)});
    ASSERT_TRUE(ServiceBase::Run(service));

    const auto registrations = sim::DeviceNotificationRegistrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].recipient, static_cast<HANDLE>(service.StatusHandle()));
    EXPECT_EQ(registrations[0].flags, static_cast<DWORD>(DEVICE_NOTIFY_SERVICE_HANDLE));
    // dbcc_size 32, type 5, reserved 0, GUID_DEVINTERFACE_USB_DEVICE, an empty name.
    EXPECT_EQ(registrations[0].filter,
              (std::vector<BYTE>{32,   0,    0,    0,    5,    0,    0,    0,    0,    0,    0,
                                 0,    0x10, 0xbf, 0xdc, 0xa5, 0x30, 0x65, 0xd2, 0x11, 0x90, 0x1f,
                                 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed, 0,    0,    0,    0}));
    EXPECT_FALSE(registrations[0].live);
    EXPECT_EQ(service.DeviceNotify(), nullptr);

    service.OnStop();
    EXPECT_EQ(sim::CountCalls("UnregisterDeviceNotification"), 1);
    EXPECT_EQ(log->Messages(), (Lines{"HingeflowService onStart", "HingeflowService OnStop",
                                      "HingeflowService OnStop"}));
}

TEST_F(TriggerServiceTest, ArrivalResumeAndRemovalSwitchOnTheCheckAlone) {
    const int external = sim::AddHidKeyboard();
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, kOpaqueData);
    SetSlate(0);
    service.onPowerEvent(PBT_APMRESUMEAUTOMATIC, kOpaqueData);
    sim::SetDevicePresent(external, false);
    SetSlate(0); // written again all the same
    service.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, kOpaqueData);

    EXPECT_EQ(log->Messages(),
              (Lines{"DBT_DEVICEARRIVAL", "event type: 32768", "built-in keyboards number: 1",
                     "SetTabletMode, temperal value: 10", "exit tablet mode: 1", "onPowerEvent: 18",
                     "built-in keyboards number: 1", "resume and exit tablet mode: 1",
                     "DBT_DEVICEREMOVECOMPLETE", "event type: 32772",
                     "built-in keyboards number: 1", "enter tablet mode: 1"}));
    EXPECT_EQ(Writes(), (Values{10, 1, 1, 0}));
}

TEST_F(TriggerServiceTest, EventsGivingNoReasonToSwitchOnlyLog) {
    // Any USB device's arrival runs the check; a memory stick is no external input.
    sim::AddDeviceInterface(interface_class::kUsbDevice, L"USB Mass Storage Device");
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, kOpaqueData);
    service.onPowerEvent(PBT_APMRESUMEAUTOMATIC, kOpaqueData);
    const int checks = sim::CountCalls("SetupDiGetClassDevsW");
    sim::AddHidKeyboard();
    service.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, kOpaqueData);
    for (DWORD type : Values{DBT_DEVNODES_CHANGED, DBT_DEVICEQUERYREMOVE, 0x18, 0x12345}) {
        service.OnDeviceEvent(type, kOpaqueData);
    }
    service.onPowerEvent(PBT_APMSUSPEND, kOpaqueData);
    service.onPowerEvent(PBT_APMRESUMESUSPEND, kOpaqueData);

    EXPECT_EQ(log->Messages(),
              (Lines{"DBT_DEVICEARRIVAL", "event type: 32768", "built-in keyboards number: 1",
                     "onPowerEvent: 18", "built-in keyboards number: 1", "DBT_DEVICEREMOVECOMPLETE",
                     "event type: 32772", "built-in keyboards number: 1", "DBT_DEVNODES_CHANGED",
                     "SERVICE_CONTROL_DEVICEEVENT unhandled: 8001",
                     "SERVICE_CONTROL_DEVICEEVENT unhandled: 0018",
                     "SERVICE_CONTROL_DEVICEEVENT unhandled: 12345", "onPowerEvent: 4",
                     "onPowerEvent: 7"}));
    EXPECT_GT(checks, 0);
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW"), checks + 1); // the removal's only
    EXPECT_TRUE(Writes().empty());
}

TEST_F(TriggerServiceTest, AFailedSwitchIsLoggedAsZero) {
    sim::AddHidKeyboard();
    sim::FailCall("RegSetValueExA", 2, ERROR_ACCESS_DENIED); // the final write, not 10
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, kOpaqueData);
    EXPECT_EQ(log->Messages().back(), "exit tablet mode: 0");
}

TEST_F(TriggerServiceTest, ShutdownKeepsTheRegistrationUntilTheServiceIsDestroyed) {
    {
        HingeflowService shuttingDown;
        sim::PlayScm({Control(SERVICE_CONTROL_SHUTDOWN)});
        ASSERT_TRUE(ServiceBase::Run(shuttingDown));

        EXPECT_EQ(sim::ReportedStates(), (Values{2, 4, 1}));
        EXPECT_EQ(log->Messages(),
                  (Lines{"HingeflowService onStart", "HingeflowService OnShutdown"}));
        EXPECT_NE(shuttingDown.DeviceNotify(), nullptr);
        EXPECT_EQ(sim::CountCalls("UnregisterDeviceNotification"), 0);
        EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 1);
    }
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 0);
}

TEST_F(TriggerServiceTest, WithoutARegistrationTheServiceStillRunsAndResumes) {
    sim::AddHidKeyboard();
    sim::FailCall("RegisterDeviceNotificationW", 1);
    sim::PlayScm({Control(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, kOpaqueData),
                  Control(SERVICE_CONTROL_STOP)});
    ASSERT_TRUE(ServiceBase::Run(service));

    EXPECT_EQ(log->Entries(),
              (Lines{"V:HingeflowService onStart", "E:RegisterDeviceNotification failed",
                     "V:onPowerEvent: 18", "V:built-in keyboards number: 1",
                     "V:SetTabletMode, temperal value: 10", "V:resume and exit tablet mode: 1",
                     "V:HingeflowService OnStop"}));
    EXPECT_EQ(sim::ReportedStates(), (Values{2, 4, 3, 1}));
    EXPECT_EQ(service.DeviceNotify(), nullptr);
    EXPECT_EQ(sim::CountCalls("UnregisterDeviceNotification"), 0);
}

TEST_F(TriggerServiceTest, ADeviceEventDeliveredWhileOnStartRunsIsHandled) {
    sim::AddHidKeyboard();
    std::vector<DWORD> statesDuringStart;
    sim::SetDeviceNotificationHook([&](HDEVNOTIFY) {
        sim::ServiceControl arrival =
            Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, kOpaqueData);
        arrival.whileStartPending = true;
        sim::SendServiceControl(arrival);
        EXPECT_TRUE(sim::WaitForServiceControlsDelivered(1));
        statesDuringStart = sim::ReportedStates();
    });
    sim::PlayScm({Control(SERVICE_CONTROL_STOP)});
    ASSERT_TRUE(ServiceBase::Run(service));

    EXPECT_EQ(statesDuringStart, (Values{2}));
    EXPECT_EQ(log->Messages(),
              (Lines{"HingeflowService onStart", "DBT_DEVICEARRIVAL", "event type: 32768",
                     "built-in keyboards number: 1", "SetTabletMode, temperal value: 10",
                     "exit tablet mode: 1", "HingeflowService OnStop"}));
    EXPECT_EQ(Writes(), (Values{10, 1}));
}

TEST_F(TriggerServiceTest, AWholeLifeUnderTheScm) {
    const int external = sim::AddHidKeyboard(L"HID Keyboard Device", false);
    sim::PlayScm({Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, kOpaqueData,
                          [&] { sim::SetDevicePresent(external, true); }),
                  Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, kOpaqueData,
                          [&] { sim::SetDevicePresent(external, false); }),
                  Control(SERVICE_CONTROL_STOP)});
    EXPECT_TRUE(ServiceBase::Run(service));

    EXPECT_EQ(sim::ServiceControlsDelivered(), 3);
    EXPECT_EQ(sim::ReportedStates(), (Values{2, 4, 3, 1}));
    EXPECT_EQ(Writes(), (Values{10, 1, 0}));
    EXPECT_EQ(
        log->Messages(),
        (Lines{"HingeflowService onStart", "DBT_DEVICEARRIVAL", "event type: 32768",
               "built-in keyboards number: 1", "SetTabletMode, temperal value: 10",
               "exit tablet mode: 1", "DBT_DEVICEREMOVECOMPLETE", "event type: 32772",
               "built-in keyboards number: 1", "enter tablet mode: 1", "HingeflowService OnStop"}));
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

} // namespace
