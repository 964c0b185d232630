// The trigger service's hooks: the notification registration, what each device and power event
// logs and writes, and what stop and shutdown leave behind.
#include "trigger/hingeflow_service.h"

#include "config/config_values.h"
#include "platform/device_interface_classes.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/service_runtime_control.h"
#include "platform/sim/setupapi_control.h"
#include "tests/running_service/scm_script.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using Values = std::vector<DWORD>;

// Never dereferenced: power events, and device events other than arrival and removal, never
// look at their data.
LPVOID const kOpaqueData = reinterpret_cast<LPVOID>(0x1);

// An event record of exactly `length` bytes, so that the address sanitizer catches a read
// beyond it; the fields that fit are filled in, a device path after the header.
std::vector<BYTE> Record(const GUID& interfaceClass, DWORD declaredSize = 0,
                         DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE, std::size_t length = 0) {
    const std::u16string path = u"\\\\?\\HID#VID_045E&PID_07A9#1&0&0000";
    const std::size_t full =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * 2;
    std::vector<BYTE> bytes(std::max(full, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)), 0);
    const DWORD size = declaredSize != 0 ? declaredSize : static_cast<DWORD>(bytes.size());
    std::memcpy(bytes.data(), &size, sizeof size);
    std::memcpy(bytes.data() + 4, &deviceType, sizeof deviceType);
    std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid),
                &interfaceClass, sizeof interfaceClass);
    std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), path.data(),
                path.size() * 2);
    bytes.resize(length != 0 ? length : bytes.size());
    bytes.shrink_to_fit();
    return bytes;
}

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
    LPVOID UsbEvent() { return usbRecord.data(); }

    std::optional<LogCapture> log;
    HingeflowService service;
    std::vector<BYTE> usbRecord = Record(interface_class::kUsbDevice);
};

TEST_F(TriggerServiceTest, StartRegistersForUsbKeyboardAndMouseInterfacesAndStopReleasesThemOnce) {
    sim::PlayScm({Control(SERVICE_CONTROL_STOP)});
    ASSERT_TRUE(ServiceBase::Run(service));

    const auto registrations = sim::DeviceNotificationRegistrations();
    ASSERT_EQ(registrations.size(), 3u);
    // dbcc_size 32, type 5, reserved 0, the class GUID, an empty name.
    const std::vector<BYTE> head{32, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<BYTE> classes[] = {
        {0x10, 0xbf, 0xdc, 0xa5, 0x30, 0x65, 0xd2, 0x11, 0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51,
         0xed}, // GUID_DEVINTERFACE_USB_DEVICE
        {0xc3, 0x96, 0x4b, 0x88, 0xef, 0x56, 0xd1, 0x11, 0xbc, 0x8c, 0x00, 0xa0, 0xc9, 0x14, 0x05,
         0xdd}, // GUID_DEVINTERFACE_KEYBOARD
        {0x4c, 0xe4, 0x8d, 0x37, 0xef, 0x56, 0xd1, 0x11, 0xbc, 0x8c, 0x00, 0xa0, 0xc9, 0x14, 0x05,
         0xdd}, // GUID_DEVINTERFACE_MOUSE
    };
    for (std::size_t i = 0; i < registrations.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<BYTE> filter = head;
        filter.insert(filter.end(), classes[i].begin(), classes[i].end());
        filter.insert(filter.end(), 4, 0);
        EXPECT_EQ(registrations[i].recipient, static_cast<HANDLE>(service.StatusHandle()));
        EXPECT_EQ(registrations[i].flags, static_cast<DWORD>(DEVICE_NOTIFY_SERVICE_HANDLE));
        EXPECT_EQ(registrations[i].filter, filter);
        EXPECT_FALSE(registrations[i].live);
    }
    EXPECT_EQ(service.DeviceNotify(), nullptr);

    service.OnStop();
    EXPECT_EQ(sim::CountCalls("UnregisterDeviceNotification"), 3);
    EXPECT_EQ(log->Messages(), (Lines{"HingeflowService onStart", "HingeflowService OnStop",
                                      "HingeflowService OnStop"}));
}

TEST_F(TriggerServiceTest, ArrivalResumeAndRemovalSwitchOnTheCheckAlone) {
    const int external = sim::AddHidKeyboard();
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, UsbEvent());
    SetSlate(0);
    service.onPowerEvent(PBT_APMRESUMEAUTOMATIC, kOpaqueData);
    sim::SetDevicePresent(external, false);
    SetSlate(0); // written again all the same
    service.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, UsbEvent());

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
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, UsbEvent());
    service.onPowerEvent(PBT_APMRESUMEAUTOMATIC, kOpaqueData);
    const int checks = sim::CountCalls("SetupDiGetClassDevsW");
    sim::AddHidKeyboard();
    service.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, UsbEvent());
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
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, UsbEvent());
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
        EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 3);
    }
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 0);
}

// Each registration fails alone: logged the same way, the other two still held until the stop.
TEST_F(TriggerServiceTest, WithoutARegistrationTheServiceStillRunsAndResumes) {
    sim::AddHidKeyboard();
    for (int failed = 1; failed <= 3; ++failed) {
        SCOPED_TRACE(failed);
        log.emplace();
        HingeflowService started;
        sim::FailCall("RegisterDeviceNotificationW", failed);
        sim::PlayScm({Control(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, kOpaqueData),
                      Control(SERVICE_CONTROL_STOP)});
        const std::size_t before = sim::ReportedStates().size();
        ASSERT_TRUE(ServiceBase::Run(started));

        EXPECT_EQ(log->Entries(),
                  (Lines{"V:HingeflowService onStart", "E:RegisterDeviceNotification failed",
                         "V:onPowerEvent: 18", "V:built-in keyboards number: 1",
                         "V:SetTabletMode, temperal value: 10", "V:resume and exit tablet mode: 1",
                         "V:HingeflowService OnStop"}));
        const std::vector<DWORD> states = sim::ReportedStates();
        EXPECT_EQ(Values(states.begin() + static_cast<std::ptrdiff_t>(before), states.end()),
                  (Values{2, 4, 3, 1}));
        EXPECT_EQ(started.DeviceNotify(), nullptr);
        EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 0);
    }
    EXPECT_EQ(sim::DeviceNotificationRegistrations().size(), 6u);
    EXPECT_EQ(sim::CountCalls("UnregisterDeviceNotification"), 6);
}

TEST_F(TriggerServiceTest, ADeviceEventDeliveredWhileOnStartRunsIsHandled) {
    sim::AddHidKeyboard();
    std::vector<DWORD> statesDuringStart;
    bool sent = false;
    sim::SetDeviceNotificationHook([&](HDEVNOTIFY) {
        if (std::exchange(sent, true)) {
            return;
        }
        sim::ServiceControl arrival =
            Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, UsbEvent());
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
    sim::PlayScm({Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, UsbEvent(),
                          [&] { sim::SetDevicePresent(external, true); }),
                  Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, UsbEvent(),
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

// Only a whole device-interface record of the keyboard or mouse class takes the new road; any
// other record, or none, is a USB event as ever. Other event types never read the record.
TEST_F(TriggerServiceTest, AnEventRecordIsReadOnlyOnceValidated) {
    sim::AddHidKeyboard();
    const GUID& keyboard = interface_class::kKeyboard;
    const std::string usbArrival = "DBT_DEVICEARRIVAL";
    const Values forced{10, 1};
    const struct {
        const char* what;
        std::vector<BYTE> record; // empty: a null pointer
        DWORD type;
        std::string line; // the first one logged
        Values writes;
    } cases[] = {
        {"none", {}, DBT_DEVICEARRIVAL, usbArrival, forced},
        {"only a size", Record(keyboard, 4, 0, 4), DBT_DEVICEARRIVAL, usbArrival, forced},
        {"short", Record(keyboard, 31, DBT_DEVTYP_DEVICEINTERFACE, 31), DBT_DEVICEARRIVAL,
         usbArrival, forced},
        {"a handle record", Record(keyboard, 0, 6), DBT_DEVICEARRIVAL, usbArrival, forced},
        {"a size no path fits", Record(keyboard, 0xFFFFFFFFu), DBT_DEVICEARRIVAL, usbArrival,
         forced},
        {"USB", Record(interface_class::kUsbDevice), DBT_DEVICEARRIVAL, usbArrival, forced},
        {"HID", Record(interface_class::kHid), DBT_DEVICEARRIVAL, usbArrival, forced},
        {"keyboard",
         Record(keyboard),
         DBT_DEVICEARRIVAL,
         "DBT_DEVICEARRIVAL: keyboard interface",
         {1}},
        {"keyboard, no path",
         Record(keyboard, 32),
         DBT_DEVICEARRIVAL,
         "DBT_DEVICEARRIVAL: keyboard interface",
         {1}},
        {"mouse",
         Record(interface_class::kMouse),
         DBT_DEVICEARRIVAL,
         "DBT_DEVICEARRIVAL: mouse interface",
         {1}},
        {"USB removal",
         Record(interface_class::kUsbDevice),
         DBT_DEVICEREMOVECOMPLETE,
         "DBT_DEVICEREMOVECOMPLETE",
         {}},
        {"mouse removal",
         Record(interface_class::kMouse),
         DBT_DEVICEREMOVECOMPLETE,
         "DBT_DEVICEREMOVECOMPLETE: mouse interface",
         {}},
        {"query remove",
         Record(keyboard),
         DBT_DEVICEQUERYREMOVE,
         "SERVICE_CONTROL_DEVICEEVENT unhandled: 8001",
         {}},
        {"nodes changed",
         Record(keyboard, 4, 0, 4),
         DBT_DEVNODES_CHANGED,
         "DBT_DEVNODES_CHANGED",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log.emplace();
        sim::ClearJournal();
        SetSlate(1);
        std::vector<BYTE> record = c.record;
        service.OnDeviceEvent(c.type, record.empty() ? nullptr : record.data());

        const Lines messages = log->Messages();
        EXPECT_EQ(messages.empty() ? "" : messages[0], c.line);
        EXPECT_EQ(Writes(), c.writes);
    }
}

// A keyboard whose interface comes after the USB event's retries, a USB keyboard with its
// touchpad, and a cover on a bus that raises no USB event: each switches, and one attach passes
// through 10 at most once.
TEST_F(TriggerServiceTest, KeyboardAndMouseInterfacesSwitchWithoutForcingWhateverTheirBus) {
    const std::vector<BYTE> usb = Record(interface_class::kUsbDevice);
    const std::vector<BYTE> keyboard = Record(interface_class::kKeyboard);
    const std::vector<BYTE> mouse = Record(interface_class::kMouse);
    const int external = sim::AddHidKeyboard(L"HID Keyboard Device", false);
    constexpr std::size_t kNever = 9;
    const struct {
        const char* what;
        DWORD slate;
        std::vector<std::pair<DWORD, std::vector<BYTE>>> events;
        std::size_t presentFrom; // the first event that finds the keyboard attached
        Values writes;
    } cases[] = {
        {"late USB keyboard", 0, {{DBT_DEVICEARRIVAL, usb}, {DBT_DEVICEARRIVAL, keyboard}}, 1, {1}},
        {"USB keyboard with a touchpad",
         1,
         {{DBT_DEVICEARRIVAL, usb}, {DBT_DEVICEARRIVAL, keyboard}, {DBT_DEVICEARRIVAL, mouse}},
         0,
         {10, 1, 1, 1}},
        {"cover on another bus attached", 0, {{DBT_DEVICEARRIVAL, keyboard}}, 0, {1}},
        {"cover on another bus detached", 1, {{DBT_DEVICEREMOVECOMPLETE, keyboard}}, kNever, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetSlate(c.slate);
        sim::ClearJournal();
        for (std::size_t i = 0; i < c.events.size(); ++i) {
            sim::SetDevicePresent(external, i >= c.presentFrom);
            std::vector<BYTE> record = c.events[i].second;
            service.OnDeviceEvent(c.events[i].first, record.data());
        }
        EXPECT_EQ(Writes(), c.writes);
    }
}

// A stop handled while onStart is inside any of its registrations ends every registration it
// holds and any made after it; a shutdown leaves those made to the process's end. Unawaited,
// the control races onStart for real, which the thread sanitizer build watches.
TEST_F(TriggerServiceTest, AStopRacingOnStartLeavesNoRegistrationHeld) {
    for (const DWORD control : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN}) {
        for (int during = 1; during <= 3; ++during) {
            for (const bool awaited : {true, false}) {
                SCOPED_TRACE(std::to_string(control) + " during registration " +
                             std::to_string(during) + (awaited ? ", awaited" : ", racing"));
                sim::Reset();
                {
                    HingeflowService raced;
                    int registrations = 0;
                    sim::SetDeviceNotificationHook([&](HDEVNOTIFY) {
                        if (++registrations != during) {
                            return;
                        }
                        sim::ServiceControl stop = Control(control);
                        stop.whileStartPending = true;
                        sim::SendServiceControl(stop);
                        if (awaited) {
                            EXPECT_TRUE(sim::WaitForServiceControlsDelivered(1));
                        }
                    });
                    sim::PlayScm();
                    ASSERT_TRUE(ServiceBase::Run(raced));

                    const auto made = sim::DeviceNotificationRegistrations();
                    const auto held = std::count_if(made.begin(), made.end(),
                                                    [](const auto& r) { return r.live; });
                    if (control == SERVICE_CONTROL_STOP) {
                        EXPECT_EQ(held, 0);
                        EXPECT_EQ(raced.DeviceNotify(), nullptr);
                        if (awaited) {
                            EXPECT_EQ(made.size(), static_cast<std::size_t>(during));
                        }
                    } else {
                        // Those after it are refused: the SCM has taken the service as stopped.
                        EXPECT_EQ(held, static_cast<std::ptrdiff_t>(made.size()));
                        EXPECT_GE(made.size(), static_cast<std::size_t>(during));
                    }
                }
                EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 0);
            }
        }
    }
}

} // namespace
