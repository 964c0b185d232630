// Every operation of the system, each faultable platform call failed in turn. The expectation
// is derived from the failed call itself (its operation and arguments), so a platform call
// added later is swept, and held to the neutral result, without anyone listing it. The exact
// step-by-step outcomes of the readers, the switch, the log start-up, install and removal of a
// running service are pinned in tests/startup_path and tests/executable. The log's own calls
// are held to one rule for every operation: the line being written is lost, or at start-up the
// log, and nothing else changes; at most one warning event says so.
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/sim/console_control.h"
#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/scm_database_control.h"
#include "platform/sim/service_runtime_control.h"
#include "platform/sim/setupapi_control.h"
#include "tests/executable/entry_runner.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/hingeflow_service.h"
#include "trigger/input_census.h"
#include "trigger/presence_check.h"
#include "trigger/slate_mode.h"

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What failing one call must give: the operation's result, and lines that must appear in this
// order among the log entries ("V:..." / "E:...") and, apart, the console lines ("C:...").
struct Expectation {
    std::string result;
    std::vector<std::string> lines;
};

struct Operation {
    std::string name;
    std::function<void()> seed;
    std::function<std::string()> run;
    std::function<Expectation(const sim::Call& failed)> expect;
    // The run decides on the log first (InitLog), as the roles that log do.
    bool startsLog = false;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The line a failed registry call gets from the reader or switch that made it.
std::vector<std::string> RegistryLines(const sim::Call& c) {
    const bool slate = Has(c.args, "PriorityControl") || Has(c.args, kSlateModeValue);
    if (c.op == "RegOpenKeyExA") {
        return {slate ? "E:open key failed: 5" : "E:open key(System\\CurrentControlSet) failed: 5"};
    }
    if (c.op == "RegSetValueExA") {
        // The passage through 10 is written without checking.
        return Has(c.args, "data=10")
                   ? std::vector<std::string>{}
                   : std::vector<std::string>{"E:set ConvertibleSlateMode failed: 5"};
    }
    if (c.op != "RegQueryValueExA") {
        return {};
    }
    if (slate) {
        return {"E:query ConvertibleSlateMode failed: 5"};
    }
    for (const char* value : {kTriggerDeviceValue, kBuiltInKeyboardNumberValue, kLogPathValue,
                              kExternalDevicesOnlyValue}) {
        if (Has(c.args, value)) {
            return {Has(c.args, "buffer=null")
                        ? "V:query value (" + std::string(value) + ") failed: 5"
                        : "E:query key(" + std::string(value) + ") value failed: 5"};
        }
    }
    return {};
}

std::vector<std::string> Plus(std::vector<std::string> lines, const std::string& line) {
    lines.push_back(line);
    return lines;
}

std::vector<std::string> ConsoleLines() {
    std::vector<std::string> lines;
    std::wistringstream in(sim::ConsoleOutput());
    std::wstring line;
    while (std::getline(in, line)) {
        lines.push_back("C:" + std::string(line.begin(), line.end()));
    }
    return lines;
}

bool InOrder(const std::vector<std::string>& seen, const std::vector<std::string>& wanted) {
    std::size_t next = 0;
    for (const std::string& line : seen) {
        next += next < wanted.size() && line == wanted[next] ? 1 : 0;
    }
    return next == wanted.size();
}

std::string SlateMode() {
    const auto value =
        sim::GetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue);
    return value ? std::to_string(*value) : "none";
}

// A tablet with one built-in keyboard, in `mode`; a dock adds a mouse and a second keyboard.
struct Machine {
    DWORD mode = 0;
    bool docked = false;
    void operator()() const {
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, mode);
        sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 1);
        sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue, "");
        sim::AddHidKeyboard();
        sim::AddHidMouse(L"HID-compliant mouse", docked);
        sim::AddHidKeyboard(L"HID Keyboard Device", docked);
    }
};

const std::string kNoDecider = "E:the decider could not start: 8";

// Each hook on an object of its own; the presence check's retries absorb any one failed census
// call, so only the registry's failures change the outcome.
Operation Hook(const std::string& name, Machine machine,
               std::function<void(HingeflowService&)> hook, const std::string& line,
               const std::string& switchedTo) {
    return {name, machine,
            [hook] {
                HingeflowService service;
                service.StartDecider();
                hook(service);
                service.WaitUntilDecided();
                return SlateMode();
            },
            [line, switchedTo, machine](const sim::Call& c) {
                if (c.op == "CreateEventW") {
                    return Expectation{std::to_string(machine.mode), {kNoDecider}};
                }
                const std::vector<std::string> lines = RegistryLines(c);
                const bool switchFailed =
                    c.op != "RegSetValueExA"
                        ? Has(c.args, "PriorityControl") || Has(c.args, kSlateModeValue)
                        : !lines.empty();
                if (switchFailed) {
                    return Expectation{std::to_string(machine.mode), Plus(lines, line + "0")};
                }
                return Expectation{switchedTo, Plus(lines, line + "1")};
            }};
}

// Delivered once the service has decided every event before it.
sim::ServiceControl Control(DWORD code, DWORD eventType, bool docked) {
    sim::ServiceControl control;
    control.control = code;
    control.eventType = eventType;
    control.beforeDelivery = [docked] {
        static_cast<HingeflowService*>(g_service)->WaitUntilDecided();
        // The dock's two devices are the last two added.
        sim::SetDevicePresent(2, docked);
        sim::SetDevicePresent(3, docked);
    };
    return control;
}

std::vector<Operation> Operations() {
    const Machine tablet{0, false};
    const Machine docked{0, true};
    const Machine laptop{1, false};
    const auto noLines = [](const std::string& result) {
        return [result](const sim::Call&) { return Expectation{result, {}}; };
    };
    return {
        {"install", [] {}, [] { return std::to_string(RunEntry({L"install"})); },
         [](const sim::Call& c) {
             if (c.op == "ChangeServiceConfig2W") {
                 const std::string setting =
                     Has(c.args, "SeChangeNotifyPrivilege") ? "required privileges"
                     : Has(c.args, "reset=")                ? "failure actions"
                     : Has(c.args, "flag=") ? "failure actions for a stop with an error"
                                            : "description";
                 return Expectation{"0",
                                    {"C:Couldn't set " + setting + ": 5", "C:Service installed",
                                     "V:service installed"}};
             }
             if (c.op == "RegCreateKeyExW" || c.op == "RegSetValueExW") {
                 return Expectation{"0",
                                    {"C:Couldn't register event source: 5", "C:Service installed",
                                     "V:service installed"}};
             }
             const std::string step = c.op == "GetModuleFileNameW" ? "get module file name"
                                      : c.op == "OpenSCManagerW"   ? "open service control manager"
                                                                   : "create service";
             return Expectation{"-1",
                                {"C:Couldn't " + step + ": 5", "C:Couldn't install service: 5"}};
         },
         true},
        // Whatever it cannot read, status says so and ends with 0, having changed nothing.
        {"status",
         [] {
             Machine{1, true}();
             sim::AddService(InstalledHingeflow(), SERVICE_RUNNING);
         },
         [] {
             const int exitCode = RunEntry({L"status", L"--json"});
             int changes = 0;
             for (const char* write : {"RegSetValueExA", "RegSetValueExW", "RegCreateKeyExW",
                                       "RegDeleteTreeW", "ControlService"}) {
                 changes += sim::CountCalls(write);
             }
             // The log's check opens the folder and file that exist, creating nothing.
             for (const std::string& open : sim::CallsTo("CreateFileA")) {
                 changes += Has(open, ", 3, ") ? 0 : 1;
             }
             for (const std::string& open : sim::CallsTo("NtCreateFile")) {
                 changes += Has(open, ", 0x3, 1, ") ? 0 : 1;
             }
             return std::to_string(exitCode) + " " + std::to_string(changes) + " changes";
         },
         [](const sim::Call&) {
             return Expectation{"0 0 changes", {}};
         }},
        {"uninstall of a stopped service",
         [] { sim::AddService(InstalledHingeflow(), SERVICE_STOPPED); },
         [] { return std::to_string(RunEntry({L"uninstall"})); },
         [](const sim::Call& c) {
             if (c.op == "OpenSCManagerW") {
                 return Expectation{"-1", {"C:Couldn't open service control manager: 5"}};
             }
             if (c.op == "OpenServiceW") {
                 return Expectation{"-1", {"C:Couldn't open service: 1060"}};
             }
             if (c.op == "DeleteService") {
                 return Expectation{"-1", {"C:Failed to delete the service: 5"}};
             }
             return Expectation{"0", {"C:Service uninstalled", "V:service uninstalled"}};
         },
         true},
        {"log start-up", [] {},
         [] {
             InitLog();
             return std::string(g_logEnabled ? "on" : "off");
         },
         [](const sim::Call&) {
             return Expectation{"off", {}};
         }},
        {"readers", Machine{0, false},
         [] {
             const std::string trigger = ReadConfigString(kConfigKeyPath, kTriggerDeviceValue);
             return trigger + "|" +
                    std::to_string(ReadConfigDword(kConfigKeyPath, kBuiltInKeyboardNumberValue));
         },
         [](const sim::Call& c) {
             // The second key opened is the number's.
             const bool number = Has(c.args, kBuiltInKeyboardNumberValue) ||
                                 (c.op == "RegOpenKeyExA" && c.args.back() == '2');
             return Expectation{number ? "|0" : "|1", RegistryLines(c)};
         }},
        {"switch to tablet mode", laptop, [] { return std::to_string(SetTabletMode(0, false)); },
         [](const sim::Call& c) {
             return Expectation{"0", RegistryLines(c)};
         }},
        {"start-up switch", tablet, [] { return std::to_string(InitializeConvertibleSlateMode()); },
         [](const sim::Call& c) {
             return Expectation{"0", Plus(RegistryLines(c), "V:InitializeConvertibleSlateMode: 0")};
         }},
        {"census", docked, [] { return std::to_string(CountInputDevices(kKeyboardKind)); },
         [](const sim::Call& c) {
             if (c.op == "SetupDiGetClassDevsW") {
                 return Expectation{"0", {}};
             }
             // The walk's closing call failing is passed over like any other index.
             return Expectation{Has(c.args, ", 2, ") ? "2" : "1", {}};
         }},
        {"census in German",
         [] {
             sim::InstallDriver(sim::AddHidKeyboard(L"HID-Tastatur"), L"hid_device_system_keyboard",
                                L"keyboard.inf");
         },
         [] { return std::to_string(CountInputDevices(kKeyboardKind)); },
         [](const sim::Call& c) {
             const bool closing = c.op == "SetupDiEnumDeviceInterfaces" && Has(c.args, ", 1, ");
             return Expectation{closing ? "1" : "0", {}};
         }},
        {"presence check", docked, [] { return std::to_string(IsExternalInputAttached()); },
         [](const sim::Call& c) {
             return Expectation{"1", RegistryLines(c)};
         }},
        // Outside a session no registration is held: the start fails however it goes.
        {"onStart", tablet,
         [] {
             HingeflowService service;
             service.onStart(0, nullptr);
             return std::to_string(service.DeviceNotify() != nullptr);
         },
         [](const sim::Call& c) {
             if (c.op == "CreateEventW") {
                 return Expectation{"0", {kNoDecider}};
             }
             // The error of the last one refused is the one reported.
             return c.op == "RegisterDeviceNotificationW"
                        ? Expectation{"0", {"E:RegisterDeviceNotification failed"}}
                        : Expectation{
                              "0",
                              {"E:RegisterDeviceNotification failed", "E:cannot watch devices: 6"}};
         }},
        {"OnStop", tablet,
         [] {
             HingeflowService service;
             service.onStart(0, nullptr);
             service.OnStop();
             return std::to_string(service.DeviceNotify() != nullptr);
         },
         noLines("0")},
        {"OnShutdown", tablet,
         [] {
             HingeflowService service;
             service.OnShutdown();
             return SlateMode();
         },
         noLines("0")},
        Hook(
            "arrival", docked,
            [](HingeflowService& s) { s.OnDeviceEvent(DBT_DEVICEARRIVAL, nullptr); },
            "V:exit tablet mode: ", "1"),
        Hook(
            "removal", laptop,
            [](HingeflowService& s) { s.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, nullptr); },
            "V:enter tablet mode: ", "0"),
        Hook(
            "resume", docked,
            [](HingeflowService& s) { s.onPowerEvent(PBT_APMRESUMEAUTOMATIC, nullptr); },
            "V:resume and exit tablet mode: ", "1"),
        {"service role", tablet,
         [] {
             sim::PlayScm({Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, true),
                           Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, false),
                           Control(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, true),
                           Control(SERVICE_CONTROL_STOP, 0, true)});
             // The start's decision waits for service-main, whose platform calls come first
             // on Windows, where the decider settles for real time.
             sim::SetTimedWaitHook([](DWORD, int wait, const std::vector<HANDLE>&) {
                 if (wait == 1) {
                     sim::WaitForServiceMainToReturn();
                 }
             });
             const int exitCode = RunEntry({});
             const std::vector<DWORD> states = sim::ReportedStates();
             return std::to_string(exitCode) + " " +
                    (states.empty() ? "none" : std::to_string(states.back()));
         },
         [](const sim::Call& c) {
             if (c.op == "StartServiceCtrlDispatcherW") {
                 return Expectation{"0 none", {"V:InitializeConvertibleSlateMode: 1"}};
             }
             if (c.op == "RegisterServiceCtrlHandlerExW") {
                 return Expectation{"0 none", {}};
             }
             if (c.op == "CreateEventW") {
                 return Expectation{"0 1", {kNoDecider}};
             }
             if (c.op == "RegisterDeviceNotificationW") {
                 return Expectation{
                     "0 1", {"E:RegisterDeviceNotification failed", "V:HingeflowService OnStop"}};
             }
             if (c.op == "CallNtPowerInformation") {
                 return Expectation{"0 1",
                                    {"E:display state not watched: CallNtPowerInformation failed: "
                                     "0xc0000022",
                                     "V:HingeflowService OnStop"}};
             }
             if (c.op == "SetServiceStatus" && Has(c.args, " 4 ")) {
                 // Never seen running, the service gets no control, and the SCM gives up on it.
                 return Expectation{"0 2", {"V:HingeflowService onStart"}};
             }
             // A failed report of the final state leaves the last one that got through.
             const bool lastReport = c.op == "SetServiceStatus" && Has(c.args, " 1 ");
             return Expectation{lastReport ? "0 3" : "0 1", RegistryLines(c)};
         },
         true},
    };
}

class SystemFaultSweep : public SimTest {};

TEST_F(SystemFaultSweep, EveryFailedCallGivesItsOutcomeAndLeavesNothingOpen) {
    for (const Operation& operation : Operations()) {
        SCOPED_TRACE(operation.name);
        std::vector<sim::Call> calls;
        std::string completeResult;
        std::vector<std::string> completeLog;
        std::vector<std::string> completeConsole;
        std::size_t startUpCalls = 0;
        if (operation.startsLog) {
            sim::Reset();
            operation.seed();
            LogCapture log;
            sim::ClearJournal();
            InitLog();
            startUpCalls = static_cast<std::size_t>(sim::FaultableCallCount());
        }
        std::size_t completeEvents = 0;
        {
            sim::Reset();
            operation.seed();
            LogCapture log;
            sim::ClearJournal();
            completeResult = operation.run();
            completeEvents = sim::ReportedEvents().size();
            completeLog = log.Entries();
            completeConsole = ConsoleLines();
            for (const sim::Call& call : sim::Journal()) {
                if (call.faultable) {
                    calls.push_back(call);
                }
            }
        }
        for (std::size_t nth = 1; nth <= calls.size(); ++nth) {
            const sim::Call& failed = calls[nth - 1];
            SCOPED_TRACE("call " + std::to_string(nth) + ": " + failed.op + "(" + failed.args +
                         ")");
            sim::Reset();
            operation.seed();
            std::string result;
            std::vector<std::string> logged;
            {
                LogCapture log;
                sim::ClearJournal();
                sim::FailAnyCall(static_cast<int>(nth));
                result = operation.run();
                logged = log.Entries();
            }
            EXPECT_EQ(sim::FaultsFired(), 1);
            EXPECT_EQ(sim::OpenHandleCount(), 0);
            EXPECT_LE(sim::ReportedEvents().size(), completeEvents + 1);
            // The start-up's decision on the log failed: logging stays off, nothing else changes;
            // unless it was the policy key, which is passed over for the configuration.
            if (nth <= startUpCalls) {
                EXPECT_EQ(result, completeResult);
                if (failed.op == "RegOpenKeyExA" && Has(failed.args, kPolicyKeyPath)) {
                    EXPECT_EQ(logged, completeLog);
                } else {
                    EXPECT_TRUE(logged.empty()) << ::testing::PrintToString(logged);
                }
                EXPECT_EQ(ConsoleLines(), completeConsole);
                continue;
            }
            // status checks the log path as the service would: a failure there is its verdict.
            if (IsLogCall(failed) && operation.name != "log start-up" &&
                operation.name != "status") {
                EXPECT_EQ(result, completeResult);
                EXPECT_TRUE(OneLineDropped(completeLog, logged))
                    << ::testing::PrintToString(logged);
                EXPECT_EQ(ConsoleLines(), completeConsole);
                continue;
            }
            // A policy key that cannot be opened is passed over for the configuration: the same
            // outcome, and in the service's log one line naming the value it was read for.
            if (failed.op == "RegOpenKeyExA" && Has(failed.args, kPolicyKeyPath)) {
                EXPECT_EQ(result, completeResult);
                std::vector<std::string> rest;
                for (const std::string& line : logged) {
                    if (!(Has(line, "E:policy value (") &&
                          Has(line, ") refused: the policy key cannot be opened (error 5)"))) {
                        rest.push_back(line);
                    }
                }
                EXPECT_EQ(rest, completeLog);
                EXPECT_LE(logged.size(), completeLog.size() + 1);
                continue;
            }
            sim::Call described = failed;
            if (failed.op == "RegOpenKeyExA") {
                described.args +=
                    " #" + std::to_string(std::count_if(
                               calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(nth),
                               [](const sim::Call& c) { return c.op == "RegOpenKeyExA"; }));
            }
            const Expectation expected = operation.expect(described);
            EXPECT_EQ(result, expected.result);
            std::vector<std::string> wantedLog;
            std::vector<std::string> wantedConsole;
            for (const std::string& line : expected.lines) {
                (line[0] == 'C' ? wantedConsole : wantedLog).push_back(line);
            }
            EXPECT_TRUE(InOrder(logged, wantedLog)) << ::testing::PrintToString(logged);
            EXPECT_TRUE(InOrder(ConsoleLines(), wantedConsole))
                << ::testing::PrintToString(ConsoleLines());
        }
    }
}

} // namespace
