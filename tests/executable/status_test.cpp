// `hingeflow.exe status`: what it says of a machine, why it says something cannot be read, that
// a standard user's rights read it all, and that its JSON is ASCII that Python parses.
#include "config/config_values.h"
#include "platform/device_properties.h"
#include "platform/sim/console_control.h"
#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/scm_database_control.h"
#include "platform/sim/security_control.h"
#include "platform/sim/setupapi_control.h"
#include "service/status.h"
#include "tests/executable/entry_runner.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

class StatusTest : public SimTest {
protected:
    // The console as the narrow text it is: status prints ASCII alone.
    static std::string Status(std::vector<std::wstring> args = {}) {
        sim::ClearConsoleOutput();
        args.insert(args.begin(), L"status");
        EXPECT_EQ(RunEntry(args), 0);
        const std::wstring wide = sim::ConsoleOutput();
        std::string text;
        for (const wchar_t c : wide) {
            EXPECT_TRUE(c == L'\n' || (c >= 0x20 && c < 0x7F)) << static_cast<unsigned>(c);
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

    static void Config(const char* name, const std::string& text) {
        sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, name, text);
    }

    // A convertible with one built-in keyboard and a docked keyboard cover with a touchpad.
    static void Convertible() {
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, 0);
        Config(kTriggerDeviceValue, "Keyboard");
        sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 1);
        sim::PlaceInContainer(sim::AddHidKeyboard(), device_property::kMachineContainer);
        const int cover = sim::AddHidKeyboard(L"HID-Tastatur");
        sim::InstallDriver(cover, L"HID_DEVICE_SYSTEM_KEYBOARD", L"keyboard.inf");
        sim::PlaceInContainer(cover, kCoverContainer);
        sim::AddHidKeyboard(L"Wine HID device");
        const int touchpad = sim::AddHidMouse(L"Contoso Touchpad");
        sim::InstallDriver(touchpad, L"HID\\VID_1234&PID_0001", L"oem7.inf");
        sim::PlaceInContainer(touchpad, device_property::kMachineContainer);
        sim::PlaceInContainer(sim::AddHidMouse(), kCoverContainer);
    }
    static constexpr GUID kCoverContainer = {
        0x0123abcd, 0x4567, 0x89ab, {0xcd, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab}};
};

TEST_F(StatusTest, SaysWhatTheServiceSeesAndWouldDo) {
    Convertible();
    sim::ScmServiceConfig elsewhere = InstalledHingeflow();
    elsewhere.binaryPathName = L"\"D:\\Old\\hingeflow.exe\"";
    sim::AddService(elsewhere, SERVICE_RUNNING);
    const std::string folder = testing::TempDir();
    Config(kLogPathValue, folder + "hingeflow.log");
    EXPECT_EQ(
        Status(),
        "hingeflow 1.0.0, C:\\Program Files\\hingeflow\\hingeflow.exe\n"
        "\n"
        "Service HingeflowService: installed, running\n"
        "  start type: automatic\n"
        "  image path: \"D:\\Old\\hingeflow.exe\"\n"
        "  the image path is not this executable\n"
        "\n"
        "Slate mode: ConvertibleSlateMode is 0, tablet mode\n"
        "\n"
        "Configuration (HKEY_CURRENT_CONFIG\\System\\CurrentControlSet):\n"
        "  policy HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\hingeflow: absent\n"
        "  HingeflowTriggerDevice (configuration): \"Keyboard\", the keyboard trigger\n"
        "  BuiltInHIDKeyboardNumber (configuration): 1 built-in keyboard\n"
        "  HingeflowExternalDevicesOnly (default): absent (error 2), so all devices count\n"
        "  HingeflowServiceLogPath (configuration): \"" +
            folder +
            "hingeflow.log\", where the service would log\n"
            "\n"
            "Devices:\n"
            "  keyboard 0: \"HID Keyboard Device\"\n"
            "    counted: described as Windows describes the standard "
            "HID keyboard in English\n"
            "    container: built in (this machine's container)\n"
            "    with external devices only: not counted; without: counted\n"
            "  keyboard 1: \"HID-Tastatur\", matching device ID "
            "HID_DEVICE_SYSTEM_KEYBOARD, INF keyboard.inf\n"
            "    counted: Windows installed its own standard HID "
            "keyboard driver (any display language)\n"
            "    container: attached (its own container)\n"
            "    with external devices only: counted; without: counted\n"
            "  keyboard 2: \"Wine HID device\"\n"
            "    not counted: not described as the standard HID keyboard "
            "in English, and its matching device ID is not set (error 1168)\n"
            "    container: unknown: DEVPKEY_Device_ContainerId, error 1168\n"
            "    with external devices only: not counted; without: not counted\n"
            "  mouse 0: \"Contoso Touchpad\", matching device ID "
            "HID\\VID_1234&PID_0001, INF oem7.inf\n"
            "    not counted: a vendor's driver, not Windows' own "
            "standard HID mouse driver\n"
            "    container: built in (this machine's container)\n"
            "    with external devices only: not counted; without: not counted\n"
            "  mouse 1: \"HID-compliant mouse\"\n"
            "    counted: described as Windows describes the standard "
            "HID mouse in English\n"
            "    container: attached (its own container)\n"
            "    with external devices only: counted; without: counted\n"
            "\n"
            "Decision, under the keyboard trigger: external input is "
            "more counted keyboards than the 1 built in\n"
            "  counted now: 1 mouse, 2 keyboards\n"
            "  external input: yes\n"
            "  an arrival (USB device, keyboard or mouse), or a resume from sleep, would switch to "
            "laptop mode\n"
            "  a removal (USB device, keyboard or mouse) would change nothing\n");
    EXPECT_EQ(sim::OpenHandleCount(), 0);

    // The keyboard cover taken away: the built-in keyboard alone is not external input.
    sim::SetDevicePresent(2, false);
    const std::string detached = Status();
    EXPECT_NE(
        detached.find("  counted now: 1 mouse, 1 keyboard\n"
                      "  external input: no\n"
                      "  an arrival (USB device, keyboard or mouse), or a resume from sleep, would "
                      "change nothing\n"
                      "  a removal (USB device, keyboard or mouse) would switch to tablet mode\n"),
        std::string::npos)
        << detached;

    // External devices only: the built-in keyboard is left out by its container, whatever the
    // number says. A cover whose maker put it in the machine's container is left out too, which
    // status shows: the mode does not suit that model.
    sim::SetDevicePresent(2, true);
    sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kExternalDevicesOnlyValue, 1);
    for (const bool coverInMachine : {false, true}) {
        SCOPED_TRACE(coverInMachine ? "cover in the machine's container" : "cover attached");
        if (coverInMachine) {
            sim::PlaceInContainer(2, device_property::kMachineContainer);
        }
        const std::string on = Status();
        for (const std::string& part :
             {std::string("  BuiltInHIDKeyboardNumber (configuration): not used: external devices "
                          "only\n"
                          "  HingeflowExternalDevicesOnly (configuration): 1, external devices "
                          "only\n"),
              std::string("keyboard driver (any display language)\n    container: ") +
                  (coverInMachine ? "built in (this machine's container)\n"
                                    "    with external devices only: not counted; without: "
                                  : "attached (its own container)\n"
                                    "    with external devices only: counted; without: ") +
                  "counted\n",
              std::string("Decision, under the keyboard trigger, external devices only: external "
                          "input is at least 1 counted keyboard\n  counted now: 1 mouse, ") +
                  (coverInMachine ? "0 keyboards\n  external input: no\n"
                                  : "1 keyboard\n  external input: yes\n")}) {
            EXPECT_NE(on.find(part), std::string::npos) << part << "\nin\n" << on;
        }
    }
}

TEST_F(StatusTest, SaysWhyWhatItCannotReadAndStillEndsWithZero) {
    const std::string folder = testing::TempDir();
    const std::string missingFolder = folder + "no-such-folder/hingeflow.log";
    const struct {
        const char* name;
        std::function<void()> spoil;
        std::string line;
        std::string json;
    } cases[] = {
        {"SCM refused", [] { sim::SetScmAccess(0); },
         "Service HingeflowService: cannot be read: the service control manager cannot be opened "
         "(error 5)\n",
         R"j("installed": null)j"},
        {"not installed", [] {}, "Service HingeflowService: not installed\n",
         R"j("installed": false)j"},
        {"slate-mode key missing",
         [] { sim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSlateModeKeyPath); },
         "Slate mode: ConvertibleSlateMode cannot be read: its key does not exist (error 2)\n",
         R"j("problem": "its key does not exist (error 2)")j"},
        {"slate-mode value missing",
         [] { sim::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue); },
         "ConvertibleSlateMode cannot be read: the value does not exist (error 2)\n", ""},
        {"slate-mode value a string",
         [] {
             sim::SetRegistryString(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, "1");
         },
         "ConvertibleSlateMode cannot be read: it is REG_SZ, not REG_DWORD\n",
         R"j("problem": "it is REG_SZ, not REG_DWORD",)j"},
        {"slate-mode value of 8 bytes",
         [] {
             sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue,
                                   REG_QWORD, std::vector<BYTE>(8, 0));
         },
         "ConvertibleSlateMode cannot be read: it is stored in more than 4 bytes (error 234)\n"
         "\n",
         ""},
        {"trigger expandable",
         [] {
             sim::SetRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue,
                                   REG_EXPAND_SZ, {'m', 'o', 'u', 's', 'e', 0});
         },
         "  HingeflowTriggerDevice (default): it is REG_EXPAND_SZ, not REG_SZ, so the combined "
         "trigger\n",
         R"j("trigger": "combined")j"},
        {"trigger longer than 2047 characters",
         [] {
             sim::SetRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue, REG_SZ,
                                   std::vector<BYTE>(2048, 'm'));
         },
         "  HingeflowTriggerDevice (default): it is longer than 2047 characters (error 234), so "
         "the combined trigger\n",
         ""},
        {"number a string", [] { Config(kBuiltInKeyboardNumberValue, "1"); },
         "  BuiltInHIDKeyboardNumber (default): it is REG_SZ, not REG_DWORD, so 0 built-in "
         "keyboards\n",
         R"j("error": null,
      "builtInKeyboards": 0)j"},
        {"number with the top bit set",
         [] {
             sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue,
                                   0xFFFFFFFFu);
         },
         "  BuiltInHIDKeyboardNumber (configuration): 4294967295, taken as 0 built-in keyboards\n",
         R"j("value": 4294967295)j"},
        {"configuration key missing",
         [] { sim::DeleteRegistryKey(HKEY_CURRENT_CONFIG, kConfigKeyPath); },
         "  HingeflowServiceLogPath (default): the configuration key cannot be opened (error 2), "
         "so no log\n",
         R"j("readable": false)j"},
        {"log folder missing", [&] { Config(kLogPathValue, missingFolder); },
         "  HingeflowServiceLogPath (configuration): \"" + missingFolder +
             "\", where the service would not log: its folder does not exist, and the service "
             "never makes one\n",
         R"j("wouldLog": false)j"},
        {"log folder unopenable",
         [&] {
             Config(kLogPathValue, folder + "hingeflow.log");
             sim::FailCall("CreateFileA", 1);
         },
         "where the service would not log: the folder cannot be opened (error 5)\n", ""},
        {"log folder writable by users",
         [&] {
             Config(kLogPathValue, folder + "hingeflow.log");
             sim::SetFileSecurity(folder, "O:SYD:P(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)");
         },
         "  HingeflowServiceLogPath (configuration): \"" + folder +
             "hingeflow.log\", where the service would not log: the folder is writable by users "
             "other than administrators (S-1-5-32-545); the service refuses it with a warning "
             "event\n",
         R"j("wouldLog": false)j"},
        // Policy wins value by value; a policy value that cannot be used is passed over, with why.
        {"trigger set by policy",
         [] {
             Config(kTriggerDeviceValue, "keyboard");
             sim::SetRegistryString(HKEY_LOCAL_MACHINE, kPolicyKeyPath, kTriggerDeviceValue,
                                    "Mouse");
         },
         "  policy HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\hingeflow: present: a value set there "
         "wins over the same value here\n"
         "  HingeflowTriggerDevice (policy): \"Mouse\", the mouse trigger\n"
         "  BuiltInHIDKeyboardNumber (default): absent (error 2), so 0 built-in keyboards\n",
         R"j("trigger": "mouse",
      "source": "policy",
      "policyRefused": null,
      "policyError": null)j"},
        {"policy log path longer than 2047 characters",
         [&] {
             Config(kLogPathValue, missingFolder);
             sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kPolicyKeyPath, kLogPathValue, REG_SZ,
                                   std::vector<BYTE>(2048, 'c'));
         },
         "  HingeflowServiceLogPath (configuration): \"" + missingFolder +
             "\", where the service would not log: its folder does not exist, and the service "
             "never makes one\n"
             "    policy value refused: it is longer than 2047 characters (error 234)\n",
         R"j("policyRefused": "it is longer than 2047 characters (error 234)",
      "policyError": 234
    },
    "policyKey": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\hingeflow")j"},
        {"policy key unreadable",
         [] {
             sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, kPolicyKeyPath);
             sim::SetKeyAccess(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0);
         },
         "  policy HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\hingeflow: it cannot be opened (error "
         "5), so it is passed over\n"
         "  HingeflowTriggerDevice (default): absent (error 2), so the combined trigger\n"
         "    policy value refused: the policy key cannot be opened (error 5)\n",
         R"j("policyError": 5)j"},
        {"keyboards cannot be listed", [] { sim::FailCall("SetupDiGetClassDevsW", 1); },
         "  keyboard: the interfaces cannot be listed (error 8)\n",
         R"j("problem": "the interfaces cannot be listed (error 8)",
      "error": 8)j"},
        {"external devices only, not a number", [] { Config(kExternalDevicesOnlyValue, "1"); },
         "  HingeflowExternalDevicesOnly (default): it is REG_SZ, not REG_DWORD, so all devices "
         "count\n",
         R"j("externalDevicesOnly": false,
      "source": "default")j"},
        {"external devices only, a policy value not a number",
         [] {
             sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kExternalDevicesOnlyValue,
                                   1);
             sim::SetRegistryString(HKEY_LOCAL_MACHINE, kPolicyKeyPath, kExternalDevicesOnlyValue,
                                    "0");
         },
         "  HingeflowExternalDevicesOnly (configuration): 1, external devices only\n"
         "    policy value refused: it is REG_SZ, not REG_DWORD\n",
         R"j("externalDevicesOnly": true,
      "source": "configuration",
      "policyRefused": "it is REG_SZ, not REG_DWORD",
      "policyError": null)j"},
        {"external devices only, a container of another size",
         [] {
             sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kExternalDevicesOnlyValue,
                                   1);
             sim::SetDeviceProperty(1, device_property::kContainerId, DEVPROP_TYPE_GUID,
                                    std::vector<BYTE>(15, 0xff));
         },
         "    container: unknown: DEVPKEY_Device_ContainerId, error 13\n"
         "    with external devices only: counted; without: counted\n",
         R"j("inLocalMachineContainer": null,
      "containerId": null,
      "container": "unknown",
      "containerReason": "unknown: DEVPKEY_Device_ContainerId, error 13",
      "countedExternalOnly": true)j"},
        {"no devices", [] { sim::RemoveAllDevices(); },
         "  no keyboard or mouse interface is present\n", R"j("devices": [],)j"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto prepare = [&c] {
            sim::Reset();
            sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, 1);
            sim::AddHidKeyboard();
            c.spoil();
        };
        prepare();
        const std::string text = Status();
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        prepare();
        const std::string json = Status({L"--json"});
        EXPECT_NE(json.find(c.json), std::string::npos) << json;
        EXPECT_EQ(sim::OpenHandleCount(), 0);
    }
}

// Each state, start type, value, trigger, verdict and unreadable read that no machine above
// shows, said in plain words and in JSON.
TEST_F(StatusTest, EveryStateVerdictAndUnreadableReadIsSaid) {
    const auto base = [] {
        StatusFacts facts;
        facts.executable = L"C:\\hingeflow.exe";
        facts.service = {L"HingeflowService",      true, {},   true,
                         SERVICE_RUNNING,          {},   true, SERVICE_AUTO_START,
                         L"\"C:\\hingeflow.exe\"", {}};
        facts.slateMode.value = 1;
        facts.log.wouldLog = true;
        DeviceFacts keyboard;
        keyboard.verdict = CensusVerdict::CountedByDescription;
        facts.devices.push_back(keyboard);
        return facts;
    };
    const StatusProblem denied = {"it cannot be read", ERROR_ACCESS_DENIED};
    const auto unreadable = [](CensusStep step) {
        return [step](StatusFacts& f) {
            f.devices[0].verdict = CensusVerdict::Unreadable;
            f.devices[0].failedStep = step;
            f.devices[0].error = ERROR_ACCESS_DENIED;
        };
    };
    const auto config = [](ConfigFailure failure, LSTATUS status) {
        return [=](StatusFacts& f) {
            f.builtInKeyboardNumber.problem = {failure, status, REG_NONE};
        };
    };
    const auto service = [](DWORD state, DWORD startType) {
        return [=](StatusFacts& f) { f.service.state = state, f.service.startType = startType; };
    };
    using Slate = SlateModeReading;
    const auto slate = [](Slate reading) { return [=](StatusFacts& f) { f.slateMode = reading; }; };
    const struct {
        std::function<void(StatusFacts&)> change;
        std::string text;
        std::string json;
    } rows[] = {
        {service(SERVICE_START_PENDING, 0), "installed, starting\n  start type: boot\n",
         R"("state": "starting")"},
        {service(SERVICE_STOP_PENDING, 1), "installed, stopping\n  start type: system\n",
         R"("startType": "system")"},
        {service(SERVICE_CONTINUE_PENDING, 3), "installed, continuing\n  start type: manual\n",
         R"("state": "continuing")"},
        {service(SERVICE_PAUSE_PENDING, 4), "installed, pausing\n  start type: disabled\n",
         R"("startType": "disabled")"},
        {service(SERVICE_PAUSED, 9), "installed, paused\n  start type: start type 9\n",
         R"("state": "paused")"},
        {[](StatusFacts& f) { f.service.state = 42, f.service.imagePath = L"C:\\hingeflow.exf"; },
         "installed, state 42\n", R"("imageIsThisExecutable": false)"},
        {[&](StatusFacts& f) { f.service.configKnown = false, f.service.configProblem = denied; },
         "installed, running\n  it cannot be read (error 5)\n", R"("startType": null)"},
        {[&](StatusFacts& f) { f.executableProblem = denied; },
         "hingeflow 1.0.0, it cannot be read (error 5)\n", R"("executable": null)"},
        {slate({Slate::Failure::None, 0, REG_DWORD, 10}),
         "the passing value of a forced switch to laptop mode", R"("value": 10)"},
        {slate({Slate::Failure::None, 0, REG_DWORD, 7}), "7, not a value hingeflow writes", ""},
        {slate({Slate::Failure::WrongType, 0, REG_QWORD, 0}), "it is REG_QWORD, not REG_DWORD",
         R"("problem": "it is REG_QWORD, not REG_DWORD")"},
        {slate({Slate::Failure::WrongType, 0, 99, 0}), "it is type 99, not REG_DWORD", ""},
        {slate({Slate::Failure::OpenKey, 5, 0, 0}), "its key cannot be opened (error 5)",
         R"("error": 5)"},
        {slate({Slate::Failure::QueryValue, 5, 0, 0}),
         "ConvertibleSlateMode cannot be read: it cannot be read (error 5)", ""},
        {[](StatusFacts& f) { f.triggerDevice.text = "mouse"; }, "\"mouse\", the mouse trigger",
         R"("trigger": "mouse")"},
        {config(ConfigFailure::QueryValue, 5), "it cannot be queried (error 5), so 0", ""},
        {config(ConfigFailure::QueryData, 5),
         "BuiltInHIDKeyboardNumber (default): it cannot be read (error 5)", ""},
        {config(ConfigFailure::QueryData, ERROR_MORE_DATA),
         "stored in more than 4 bytes (error 234)", ""},
        {[](StatusFacts& f) { f.devices[0].verdict = CensusVerdict::VendorDriver; },
         "a vendor's driver", R"("verdict": "vendorDriver")"},
        {[](StatusFacts& f) { f.devices[0].verdict = CensusVerdict::CountedAsStandardDriver; },
         "its own standard HID keyboard driver", R"("verdict": "standardDriver")"},
        {[](StatusFacts& f) { f.devices[0].verdict = CensusVerdict::NotHid; },
         "not counted: not a HID device", R"("verdict": "notHid")"},
        {unreadable(CensusStep::Enumeration), "its interface cannot be read (error 5)",
         R"("unreadable": "interface")"},
        {unreadable(CensusStep::InterfaceDetail), "its interface detail cannot be read",
         R"("unreadable": "interfaceDetail")"},
        {unreadable(CensusStep::Description), "its description cannot be read",
         R"("unreadable": "description")"},
        {unreadable(CensusStep::MatchingDeviceId),
         "its matching device ID cannot be read (error 5)", R"("unreadable": "matchingDeviceId")"},
        {unreadable(CensusStep::InfName), "its INF name cannot be read (error 5)",
         R"("unreadable": "infName")"},
        {unreadable(CensusStep::None), "its data cannot be read (error 5)",
         R"("unreadable": "none")"},
        {[](StatusFacts& f) { f.devices[0].description = L"tab\tand\rreturn"; },
         "\"tab\\u0009and\\u000dreturn\"", R"("description": "tab\tand\rreturn")"},
        {[&](StatusFacts& f) {
             f.mouseListing = {"the interfaces cannot be listed", 8};
         },
         "  mouse: the interfaces cannot be listed (error 8)\n", R"("error": 8)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        StatusFacts facts = base();
        row.change(facts);
        const std::string text = StatusText(facts);
        const std::string json = StatusJson(facts);
        EXPECT_NE(text.find(row.text), std::string::npos) << text;
        EXPECT_NE(json.find(row.json), std::string::npos) << json;
    }
}

// A standard user may query the SCM and the service, and read the two keys; nothing more is
// asked for, and nothing is missing from what status says.
TEST_F(StatusTest, StandardUserRightsReadEverything) {
    Convertible();
    sim::AddService(InstalledHingeflow(), SERVICE_STOPPED);
    const std::string asAdministrator = Status();
    sim::ClearJournal();
    sim::SetScmAccess(SC_MANAGER_CONNECT);
    sim::SetKeyAccess(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, KEY_READ);
    sim::SetKeyAccess(HKEY_CURRENT_CONFIG, kConfigKeyPath, KEY_READ);
    EXPECT_EQ(Status(), asAdministrator);
    EXPECT_EQ(sim::CallsTo("OpenSCManagerW"), std::vector<std::string>{"(null), (null), 0x1"});
    ASSERT_EQ(sim::CallsTo("OpenServiceW").size(), 1u);
    EXPECT_NE(sim::CallsTo("OpenServiceW")[0].find("HingeflowService, 0x5"), std::string::npos);
    for (const std::string& open : sim::CallsTo("RegOpenKeyExA")) {
        EXPECT_TRUE(open.find("sam=0x1") != std::string::npos ||
                    open.find("sam=0x20019") != std::string::npos ||
                    open.find("sam=0x20119") != std::string::npos) // KEY_READ, 64-bit view
            << open;
    }
}

// Device descriptions are any UTF-16, lone surrogates included: every unit outside printable
// ASCII is escaped, and Python reads back exactly the units Windows stored.
TEST_F(StatusTest, JsonIsAsciiThatPythonParsesToTheStoredText) {
    const std::wstring descriptions[] = {
        L"quote \" backslash \\ tab \t line \n",
        std::wstring(L"lone high ") + wchar_t(0xD800),
        std::wstring(1, wchar_t(0xDC00)) + L" lone low",
        std::wstring(L"pair ") + wchar_t(0xD83D) + wchar_t(0xDE00),
        std::wstring(L"wide unit ") + wchar_t(0x1F600),
        L"caf\u00e9 \u30ad\u30fc\u30dc\u30fc\u30c9 \x01\x7f",
        L"",
    };
    for (const std::wstring& description : descriptions) {
        sim::AddHidKeyboard(description);
    }
    Config(kTriggerDeviceValue, "k\xe9y\x01");
    const std::string path = testing::TempDir() + "hingeflow-status.json";
    std::ofstream(path) << Status({L"--json"});
    // Each description as its code points in hex, then the trigger text's.
    const std::string script = "import json, sys; s = json.load(open(sys.argv[1])); "
                               "texts = [d['description'] for d in s['devices']] + "
                               "[s['configuration']['HingeflowTriggerDevice']['value']]; "
                               "print('|'.join(' '.join('%x' % ord(c) for c in t) for t in texts))";
    const std::string out = path + ".out";
    ASSERT_EQ(std::system(("python3 -c \"" + script + "\" " + path + " > " + out).c_str()), 0);
    std::string parsed;
    std::getline(std::ifstream(out), parsed);
    EXPECT_EQ(parsed,
              "71 75 6f 74 65 20 22 20 62 61 63 6b 73 6c 61 73 68 20 5c 20 74 61 62 20 9 20 6c 69 "
              "6e 65 20 a|"
              "6c 6f 6e 65 20 68 69 67 68 20 d800|"
              "dc00 20 6c 6f 6e 65 20 6c 6f 77|"
              "70 61 69 72 20 1f600|"
              "77 69 64 65 20 75 6e 69 74 20 1f600|"
              "63 61 66 e9 20 30ad 30fc 30dc 30fc 30c9 20 1 7f|"
              "|"
              "6b e9 79 1");
    std::remove(path.c_str());
    std::remove(out.c_str());
}

} // namespace
