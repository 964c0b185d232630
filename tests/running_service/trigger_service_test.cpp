// The trigger service's hooks: the notification registration, what each device and power event
// logs and writes, and what stop and shutdown leave behind.
#include "trigger/hingeflow_service.h"

#include "config/config_values.h"
#include "config/event_messages.h"
#include "platform/device_interface_classes.h"
#include "platform/power.h"
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
#include <functional>
#include <optional>
#include <string>
#include <thread>
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

// A POWERBROADCAST_SETTING of exactly its declared length.
std::vector<BYTE> Setting(DWORD data, const GUID& setting = power_setting::kConsoleDisplayState,
                          DWORD length = sizeof(DWORD)) {
    std::vector<BYTE> bytes(power_setting::kSettingDataOffset + length, 0);
    std::memcpy(bytes.data(), &setting, sizeof setting);
    std::memcpy(bytes.data() + sizeof setting, &length, sizeof length);
    std::memcpy(bytes.data() + power_setting::kSettingDataOffset, &data,
                std::min<std::size_t>(length, sizeof data));
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
        ASSERT_TRUE(service.StartDecider());
    }
    void TearDown() override {
        held.reset(); // its events are kernel objects like any other
        log.reset();
        SimTest::TearDown();
    }

    static void SetSlate(DWORD value) {
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, value);
    }
    static Values Writes() { return sim::DwordWritesTo(kSlateModeValue); }
    LPVOID UsbEvent() { return usbRecord.data(); }
    // Hands an event to a hook and waits until the decider has decided it.
    void Device(DWORD type, LPVOID data) {
        service.OnDeviceEvent(type, data);
        ASSERT_TRUE(service.WaitUntilDecided());
    }
    void Power(DWORD type, LPVOID data) {
        service.onPowerEvent(type, data);
        ASSERT_TRUE(service.WaitUntilDecided());
    }
    // A played SCM's control that comes once every event delivered before it is decided, with the
    // change in the world it announces.
    static sim::ServiceControl Decided(DWORD code, DWORD eventType = 0, LPVOID eventData = nullptr,
                                       std::function<void()> change = nullptr) {
        return Control(code, eventType, eventData, [change] {
            ASSERT_TRUE(static_cast<HingeflowService*>(g_service)->WaitUntilDecided());
            if (change) {
                change();
            }
        });
    }

    std::optional<LogCapture> log;
    std::optional<HingeflowService> held{std::in_place};
    HingeflowService& service = *held;
    std::vector<BYTE> usbRecord = Record(interface_class::kUsbDevice);
};

TEST_F(TriggerServiceTest, StartRegistersForUsbKeyboardAndMouseInterfacesAndStopReleasesThemOnce) {
    sim::PlayScm({Decided(SERVICE_CONTROL_STOP)});
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
    EXPECT_EQ(log->Messages(),
              (Lines{"HingeflowService onStart", "display state not watched: no Modern Standby",
                     "built-in keyboards number: 1", "start decision: enter tablet mode: 1",
                     "HingeflowService OnStop", "HingeflowService OnStop"}));
}

TEST_F(TriggerServiceTest, ArrivalResumeAndRemovalSwitchOnTheCheckAlone) {
    const int external = sim::AddHidKeyboard();
    Device(DBT_DEVICEARRIVAL, UsbEvent());
    SetSlate(0);
    Power(PBT_APMRESUMEAUTOMATIC, kOpaqueData);
    sim::SetDevicePresent(external, false);
    SetSlate(0); // written again all the same
    Device(DBT_DEVICEREMOVECOMPLETE, UsbEvent());

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
    Device(DBT_DEVICEARRIVAL, UsbEvent());
    Power(PBT_APMRESUMEAUTOMATIC, kOpaqueData);
    const int checks = sim::CountCalls("SetupDiGetClassDevsW");
    sim::AddHidKeyboard();
    Device(DBT_DEVICEREMOVECOMPLETE, UsbEvent());
    for (DWORD type : Values{DBT_DEVNODES_CHANGED, DBT_DEVICEQUERYREMOVE, 0x18, 0x12345}) {
        Device(type, kOpaqueData);
    }
    Power(PBT_APMSUSPEND, kOpaqueData);
    Power(PBT_APMRESUMESUSPEND, kOpaqueData);

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
    Device(DBT_DEVICEARRIVAL, UsbEvent());
    EXPECT_EQ(log->Messages().back(), "exit tablet mode: 0");
}

TEST_F(TriggerServiceTest, ShutdownKeepsTheRegistrationUntilTheServiceIsDestroyed) {
    {
        HingeflowService shuttingDown;
        sim::PlayScm({Decided(SERVICE_CONTROL_SHUTDOWN)});
        ASSERT_TRUE(ServiceBase::Run(shuttingDown));

        EXPECT_EQ(sim::ReportedStates(), (Values{2, 4, 1}));
        EXPECT_EQ(log->Messages(),
                  (Lines{"HingeflowService onStart", "display state not watched: no Modern Standby",
                         "built-in keyboards number: 1", "start decision: enter tablet mode: 1",
                         "HingeflowService OnShutdown"}));
        EXPECT_NE(shuttingDown.DeviceNotify(), nullptr);
        EXPECT_EQ(sim::CountCalls("UnregisterDeviceNotification"), 0);
        EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 3);
    }
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceNotification), 0);
}

// Each registration fails alone: logged the same way, and a warning event names the class; the
// other two are held until the stop.
TEST_F(TriggerServiceTest, WithoutARegistrationTheServiceStillRunsAndResumes) {
    sim::AddHidKeyboard();
    const wchar_t* const classes[] = {L"USB devices", L"keyboards", L"mice"};
    for (int failed = 1; failed <= 3; ++failed) {
        SCOPED_TRACE(failed);
        log.emplace();
        HingeflowService started;
        sim::FailCall("RegisterDeviceNotificationW", failed, ERROR_NOT_ENOUGH_MEMORY);
        sim::PlayScm({Decided(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, kOpaqueData),
                      Decided(SERVICE_CONTROL_STOP)});
        const std::size_t before = sim::ReportedStates().size();
        const std::size_t eventsBefore = sim::ReportedEvents().size();
        ASSERT_TRUE(ServiceBase::Run(started));

        // Laptop mode, not forced, at the start; the resume forces it.
        EXPECT_EQ(log->Entries(),
                  (Lines{"V:HingeflowService onStart", "E:RegisterDeviceNotification failed",
                         "V:display state not watched: no Modern Standby",
                         "V:built-in keyboards number: 1", "V:start decision: exit tablet mode: 1",
                         "V:onPowerEvent: 18", "V:built-in keyboards number: 1",
                         "V:SetTabletMode, temperal value: 10", "V:resume and exit tablet mode: 1",
                         "V:HingeflowService OnStop"}));
        const std::vector<DWORD> states = sim::ReportedStates();
        EXPECT_EQ(Values(states.begin() + static_cast<std::ptrdiff_t>(before), states.end()),
                  (Values{2, 4, 3, 1}));
        const auto events = sim::ReportedEvents();
        ASSERT_EQ(events.size(), eventsBefore + 1);
        EXPECT_EQ(events.back().eventId, event_message::kDevicesWatchedInPart);
        EXPECT_EQ(events.back().type, EVENTLOG_WARNING_TYPE);
        EXPECT_EQ(events.back().strings,
                  (std::vector<std::wstring>{L"HingeflowService", classes[failed - 1], L"8"}));
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
        EXPECT_TRUE(service.WaitUntilDecided());
        statesDuringStart = sim::ReportedStates();
    });
    sim::PlayScm({Decided(SERVICE_CONTROL_STOP)});
    ASSERT_TRUE(ServiceBase::Run(service));

    EXPECT_EQ(statesDuringStart, (Values{2}));
    EXPECT_EQ(log->Messages(),
              (Lines{"HingeflowService onStart", "DBT_DEVICEARRIVAL", "event type: 32768",
                     "built-in keyboards number: 1", "SetTabletMode, temperal value: 10",
                     "exit tablet mode: 1", "display state not watched: no Modern Standby",
                     "built-in keyboards number: 1", "start decision: exit tablet mode: 1",
                     "HingeflowService OnStop"}));
    EXPECT_EQ(Writes(), (Values{10, 1, 1}));
}

TEST_F(TriggerServiceTest, AWholeLifeUnderTheScm) {
    const int external = sim::AddHidKeyboard(L"HID Keyboard Device", false);
    sim::PlayScm({Decided(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, UsbEvent(),
                          [&] { sim::SetDevicePresent(external, true); }),
                  Decided(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, UsbEvent(),
                          [&] { sim::SetDevicePresent(external, false); }),
                  Decided(SERVICE_CONTROL_STOP)});
    EXPECT_TRUE(ServiceBase::Run(service));

    EXPECT_EQ(sim::ServiceControlsDelivered(), 3);
    EXPECT_EQ(sim::ReportedStates(), (Values{2, 4, 3, 1}));
    // The start finds no keyboard; the arrival soon after switches without passing through 10.
    EXPECT_EQ(Writes(), (Values{0, 1, 0}));
    EXPECT_EQ(
        log->Messages(),
        (Lines{"HingeflowService onStart", "display state not watched: no Modern Standby",
               "built-in keyboards number: 1", "start decision: enter tablet mode: 1",
               "DBT_DEVICEARRIVAL", "event type: 32768", "built-in keyboards number: 1",
               "exit tablet mode: 1", "DBT_DEVICEREMOVECOMPLETE", "event type: 32772",
               "built-in keyboards number: 1", "enter tablet mode: 1", "HingeflowService OnStop"}));
    // The decider's events go with the service, after the test.
    EXPECT_EQ(sim::OpenHandleCount(), sim::OpenHandleCount(sim::HandleKind::KernelObject));
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
        sim::AdvanceVirtualTime(kForceQuietTimeMs); // each case forced afresh
        std::vector<BYTE> record = c.record;
        Device(c.type, record.empty() ? nullptr : record.data());

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
        sim::AdvanceVirtualTime(kForceQuietTimeMs);
        for (std::size_t i = 0; i < c.events.size(); ++i) {
            sim::SetDevicePresent(external, i >= c.presentFrom);
            std::vector<BYTE> record = c.events[i].second;
            Device(c.events[i].first, record.data());
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

// A burst is decided once, when no event has come for the settle time: the rest of it is handed
// over during the decider's first wait. The value it leaves is the one that deciding each event
// in turn leaves on the same hardware, which the same events one at a time check first.
TEST_F(TriggerServiceTest, ABurstIsDecidedOnceAndEndsAsEachEventInTurnWould) {
    std::vector<BYTE> keyboard = Record(interface_class::kKeyboard);
    std::vector<BYTE> on = Setting(1);
    const int external = sim::AddHidKeyboard(L"HID Keyboard Device", false);
    struct Event {
        DWORD control;
        DWORD type;
        LPVOID data;
    };
    const Event usbIn{SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, UsbEvent()};
    const Event usbOut{SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, UsbEvent()};
    const Event keyboardIn{SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, keyboard.data()};
    const Event keyboardOut{SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, keyboard.data()};
    const Event resume{SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, kOpaqueData};
    const Event screenOn{SERVICE_CONTROL_POWEREVENT, PBT_POWERSETTINGCHANGE, on.data()};
    const struct {
        const char* what;
        DWORD slate;
        bool attached; // the keyboard, once the burst is over
        std::vector<Event> burst;
        Values writes;
    } cases[] = {
        {"a dock: six USB devices around a keyboard",
         1,
         true,
         {usbIn, usbIn, usbIn, keyboardIn, usbIn, usbIn, usbIn},
         {10, 1}},
        {"undocked: the keyboard, its USB device and five others",
         1,
         false,
         {keyboardOut, usbOut, usbOut, usbOut, usbOut, usbOut, usbOut},
         {0}},
        {"attached and detached again", 1, false, {usbIn, keyboardIn, keyboardOut, usbOut}, {0}},
        {"a memory stick out while the keyboard stays", 0, true, {usbOut}, {}},
        {"a resume and the screen on, of one wake", 1, true, {resume, screenOn}, {10, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<DWORD> inTurn;
        for (const bool merged : {false, true}) {
            sim::AdvanceVirtualTime(kForceQuietTimeMs);
            SetSlate(c.slate);
            sim::SetDevicePresent(external, c.attached);
            sim::ClearJournal();
            log.emplace();
            HingeflowService fresh;
            ASSERT_TRUE(fresh.StartDecider());
            std::vector<BYTE> off = Setting(0);
            fresh.onPowerEvent(PBT_POWERSETTINGCHANGE, off.data());
            const auto hand = [&](const Event& e) {
                e.control == SERVICE_CONTROL_POWEREVENT ? fresh.onPowerEvent(e.type, e.data)
                                                        : fresh.OnDeviceEvent(e.type, e.data);
            };
            bool handedOver = !merged;
            sim::SetTimedWaitHook([&](DWORD, int, const std::vector<HANDLE>&) {
                for (std::size_t i = std::exchange(handedOver, true) ? c.burst.size() : 1;
                     i < c.burst.size(); ++i) {
                    hand(c.burst[i]);
                }
            });
            for (std::size_t i = 0; i < (merged ? 1 : c.burst.size()); ++i) {
                hand(c.burst[i]);
                ASSERT_TRUE(fresh.WaitUntilDecided());
            }
            sim::SetTimedWaitHook(nullptr);
            const auto value =
                sim::GetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue);
            if (!merged) {
                inTurn = value;
                continue;
            }
            EXPECT_EQ(Writes(), c.writes);
            EXPECT_EQ(value, inTurn);
            const Lines messages = log->Messages();
            EXPECT_EQ(std::count(messages.begin(), messages.end(),
                                 "deciding " + std::to_string(c.burst.size()) + " events at once"),
                      c.burst.size() > 1 ? 1 : 0);
        }
    }
}

// A device that never falls quiet is decided all the same, at the longest settle time.
TEST_F(TriggerServiceTest, AnEndlessBurstIsStillDecided) {
    sim::AddHidKeyboard();
    SetSlate(0);
    int posted = 1;
    sim::SetTimedWaitHook([&](DWORD, int, const std::vector<HANDLE>&) {
        if (posted < 50) {
            ++posted;
            service.OnDeviceEvent(DBT_DEVICEARRIVAL, UsbEvent());
        }
    });
    const std::uint64_t start = sim::VirtualTimeMs();
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, UsbEvent());
    ASSERT_TRUE(service.WaitUntilDecided());
    sim::SetTimedWaitHook(nullptr);
    const Lines messages = log->Messages();
    const auto first = std::find_if(messages.begin(), messages.end(), [](const std::string& line) {
        return line.rfind("deciding ", 0) == 0;
    });
    ASSERT_NE(first, messages.end()) << ::testing::PrintToString(messages);
    EXPECT_EQ(*first, "deciding " + std::to_string(kLongestSettleMs / kSettleTimeMs + 1) +
                          " events at once")
        << "decided at " << sim::VirtualTimeMs() - start;
    EXPECT_EQ(Writes(), Values({1}));
}

// A docking, however many devices it brings, toggles Windows' mode once; a memory stick plugged
// in 5 s later re-asserts laptop mode as ever.
TEST_F(TriggerServiceTest, AForcedSwitchPassesThrough10OnlyAfterFiveQuietSeconds) {
    sim::AddHidKeyboard();
    const struct {
        std::uint64_t after; // virtual ms before the arrival, which the settle time follows
        Values writes;
        std::string heldBack;
    } steps[] = {
        {0, {10, 1}, ""},
        {kForceQuietTimeMs - kSettleTimeMs - 1,
         {1},
         "no pass through 10: the value toggled 4999 ms ago"},
        {0, {10, 1}, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.after);
        sim::AdvanceVirtualTime(step.after);
        sim::ClearJournal();
        log.emplace();
        Device(DBT_DEVICEARRIVAL, UsbEvent());
        EXPECT_EQ(Writes(), step.writes);
        const Lines messages = log->Messages();
        EXPECT_EQ(messages[messages.size() - 2],
                  step.heldBack.empty() ? "SetTabletMode, temperal value: 10" : step.heldBack);
    }
}

// A stop ends the decider's waits at once: the decision it overtakes writes nothing, what waits is
// dropped with one line giving the count, and nothing posted after it is decided. Events keep
// coming while it stops, so the thread sanitizer watches the stop against both threads.
TEST_F(TriggerServiceTest, AStopOvertakesTheDecisionAndDropsWhatWaits) {
    const struct {
        const char* what;
        int stopDuring; // the decider's timed wait that the stop comes in
        int alsoPosted; // events handed over while it stops
    } cases[] = {
        {"the settle time", 1, 0},
        {"a presence retry", 2, 0},
        {"the settle time, events still coming", 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetSlate(1); // no external input: the removal would switch to tablet mode
        sim::ClearJournal();
        log.emplace();
        HingeflowService stopping;
        ASSERT_TRUE(stopping.StartDecider());
        int waits = 0;
        std::thread stopper;
        sim::SetTimedWaitHook([&](DWORD, int, const std::vector<HANDLE>& handles) {
            if (++waits != c.stopDuring) {
                return;
            }
            stopper = std::thread([&] { stopping.OnStop(); });
            for (int i = 0; i < c.alsoPosted; ++i) {
                stopping.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, UsbEvent());
            }
            WaitForSingleObject(handles[0], INFINITE); // the stop, every wait's first
        });
        stopping.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, UsbEvent());
        ASSERT_TRUE(stopping.WaitUntilDecided());
        stopper.join();
        sim::SetTimedWaitHook(nullptr);
        stopping.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, UsbEvent());
        EXPECT_TRUE(stopping.WaitUntilDecided());

        EXPECT_TRUE(Writes().empty());
        // As many as were handed over before the stop had begun, the first at least.
        const Lines messages = log->Messages();
        int dropped = 0;
        for (int n = 1; n <= 1 + c.alsoPosted; ++n) {
            dropped += static_cast<int>(std::count(messages.begin(), messages.end(),
                                                   "events dropped at stop: " + std::to_string(n)));
        }
        EXPECT_EQ(dropped, 1);
        EXPECT_EQ(messages.back(), "event type: 32772") << "only its lines, undecided";
    }
}

// The display state is read only from a whole record of it. The first one only tells the state,
// and only the screen coming back from off is a wake, which re-asserts laptop mode as a resume.
TEST_F(TriggerServiceTest, OnlyTheScreenBackFromOffIsAWake) {
    sim::AddHidKeyboard();
    const struct {
        const char* what;
        std::vector<BYTE> record; // empty: a null pointer
        std::string line;         // the one after "onPowerEvent: 32787"
        bool wake;
    } steps[] = {
        {"no record", {}, "power setting ignored: no record", false},
        {"another setting", Setting(0, interface_class::kUsbDevice),
         "power setting ignored: not the console display state", false},
        {"eight bytes of data", Setting(0, power_setting::kConsoleDisplayState, 8),
         "power setting ignored: 8 bytes of data, not 4", false},
        {"no state Windows sends", Setting(7), "power setting ignored: display state 7", false},
        {"on, as sent at registration", Setting(1), "console display state: 1", false},
        {"dimmed", Setting(2), "console display state: 2", false},
        {"off", Setting(0), "console display state: 0", false},
        {"dimmed after off", Setting(2), "console display state: 2", true},
        {"on", Setting(1), "console display state: 1", false},
        {"off again", Setting(0), "console display state: 0", false},
        {"on after off", Setting(1), "console display state: 1", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        sim::AdvanceVirtualTime(kForceQuietTimeMs);
        sim::ClearJournal();
        log.emplace();
        std::vector<BYTE> record = step.record;
        Power(PBT_POWERSETTINGCHANGE, record.empty() ? nullptr : record.data());
        const Lines messages = log->Messages();
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages[1], step.line);
        EXPECT_EQ(Writes(), step.wake ? (Values{10, 1}) : Values{});
        if (step.wake) {
            EXPECT_EQ(messages[2], "display wake");
            EXPECT_EQ(messages.back(), "resume and exit tablet mode: 1");
        }
    }
}

// A start registers what it can and says why it does not the rest. Where AoAc is set it listens
// for the display state, sent once at registration and at each change, until the stop. One that
// can watch no device, or cannot decide, reports so in Event Viewer and stops with its own code,
// so that the SCM's recovery restarts it; nothing is written or said after it.
TEST_F(TriggerServiceTest, AStartRegistersWhatItCanAndStopsWithItsOwnCodeWhenItCannotWatch) {
    sim::AddHidKeyboard();
    const struct {
        const char* what;
        bool modernStandby;
        const char* failed; // the call failed from the first on, with `error`
        DWORD error;
        std::string line;
        Values writes;
        DWORD code = 0;         // the service-specific exit code, 0 for RUNNING
        std::wstring refused{}; // what the error event says was refused
    } cases[] = {
        {"Modern Standby, the screen off and on", true, nullptr, 0, "display wake", {1, 10, 1}},
        {"no Modern Standby",
         false,
         nullptr,
         0,
         "display state not watched: no Modern Standby",
         {1}},
        {"the capabilities unreadable",
         true,
         "CallNtPowerInformation",
         0xC0000022u,
         "display state not watched: CallNtPowerInformation failed: 0xc0000022",
         {1}},
        {"the display registration refused",
         true,
         "RegisterPowerSettingNotification",
         ERROR_NOT_ENOUGH_MEMORY,
         "RegisterPowerSettingNotification failed: 8",
         {1}},
        {"every device registration refused",
         true,
         "RegisterDeviceNotificationW",
         ERROR_ACCESS_DENIED,
         "cannot watch devices: 5",
         {},
         kExitCannotWatchDevices,
         L"Windows refused every device notification registration"},
        {"no decider",
         true,
         "CreateEventW",
         ERROR_NOT_ENOUGH_MEMORY,
         "the decider could not start: 8",
         {},
         kExitNoDecider,
         L"the thread that decides could not start"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetSlate(1);
        sim::ClearJournal();
        log.emplace();
        const std::size_t registrationsBefore = sim::PowerNotificationRegistrations().size();
        const std::size_t eventsBefore = sim::ReportedEvents().size();
        HingeflowService starting;
        sim::SetModernStandby(c.modernStandby);
        if (c.failed != nullptr) {
            sim::FailCall(c.failed, 1, c.error, true);
        }
        // Windows sends the screen's changes like any control, after the one that makes them.
        sim::PlayScm({Decided(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVNODES_CHANGED, nullptr, [] {
            sim::SetDisplayState(0);
            sim::SetDisplayState(1);
            sim::SendServiceControl(Decided(SERVICE_CONTROL_STOP));
        })});
        ASSERT_TRUE(ServiceBase::Run(starting));
        sim::ClearFaults();

        const Lines messages = log->Messages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(), c.line), 1);
        EXPECT_EQ(Writes(), c.writes);
        const SERVICE_STATUS last = sim::ReportedStatuses().back();
        EXPECT_EQ(last.dwWin32ExitCode,
                  c.code != 0 ? static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR) : 0u);
        EXPECT_EQ(last.dwServiceSpecificExitCode, c.code);
        const auto events = sim::ReportedEvents();
        ASSERT_EQ(events.size(), eventsBefore + (c.code != 0 ? 1 : 0));
        if (c.code != 0) {
            EXPECT_EQ(messages.back(), c.line);
            EXPECT_EQ(events.back().type, EVENTLOG_ERROR_TYPE);
            EXPECT_EQ(events.back().eventId, event_message::kCannotWatchDevices);
            EXPECT_EQ(events.back().strings,
                      (std::vector<std::wstring>{L"HingeflowService", c.refused,
                                                 std::to_wstring(c.error)}));
        }
        const auto registrations = sim::PowerNotificationRegistrations();
        const bool watched = c.line == "display wake";
        ASSERT_EQ(registrations.size() - registrationsBefore, watched ? 1u : 0u);
        if (watched) {
            EXPECT_TRUE(
                IsEqualGUID(registrations.back().setting, power_setting::kConsoleDisplayState));
            EXPECT_EQ(registrations.back().recipient, static_cast<HANDLE>(starting.StatusHandle()));
            EXPECT_FALSE(registrations.back().live);
        }
    }
}

} // namespace
