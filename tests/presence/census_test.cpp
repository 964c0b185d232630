#include "trigger/input_census.h"

#include "platform/device_properties.h"
#include "platform/sim/setupapi_control.h"
#include "tests/presence/guid_text.h"
#include "tests/support/sim_test.h"

#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDetailBufferBytes = 1028;
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
constexpr DeviceKind kMinKind = std::numeric_limits<DeviceKind>::min();

std::vector<BYTE> Bytes(const std::wstring& units) {
    const auto* first = reinterpret_cast<const BYTE*>(units.data());
    return std::vector<BYTE>(first, first + units.size() * sizeof(WCHAR));
}

// A device path whose interface detail needs exactly `bytes`.
std::wstring PathForDetailSize(std::size_t bytes) {
    return std::wstring((bytes - kPathOffset) / sizeof(WCHAR) - 1, L'p');
}

using CensusTest = SimTest;

TEST(DeviceInterfaceGuid, MapsEveryKindAndFallsBackToKeyboard) {
    const char* keyboard = "{884b96c3-56ef-11d1-bc8c-00a0c91405dd}";
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(0)), keyboard);
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(1)), "{378de44c-56ef-11d1-bc8c-00a0c91405dd}");
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(2)), "{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(3)), "{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(4)), "{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(5)), keyboard);
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(-1)), keyboard);
    EXPECT_EQ(GuidText(GetDeviceInterfaceGuid(kMinKind)), keyboard);
}

TEST_F(CensusTest, KindsWithoutDescriptionCountNothingWithoutPlatformCall) {
    sim::AddHidMouse();
    sim::AddHidKeyboard();
    for (DeviceKind kind : {2, 3, 4, 5, -1, kMinKind}) {
        EXPECT_EQ(CountInputDevices(kind), 0) << kind;
    }
    EXPECT_TRUE(sim::Journal().empty());
}

TEST_F(CensusTest, CountsOnlyPresentInterfacesWithTheExactDescription) {
    const struct {
        std::wstring description;
        bool present;
        int count;
    } cases[] = {
        {L"HID-compliant mouse", true, 1},
        {std::wstring(L"HID-compliant mouse\0tail", 24), true, 1}, // compared up to its NUL
        {L"HID-compliant mouse", false, 0},
        {L"hid-compliant mouse", true, 0},
        {L"HID-compliant mouse ", true, 0},
        {L" HID-compliant mouse", true, 0},
        {L"HID-compliant mous", true, 0},
        {L"HID Keyboard Device", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.description));
        sim::Reset();
        sim::AddHidMouse(c.description, c.present);
        sim::AddHidKeyboard(c.description, c.present);
        EXPECT_EQ(CountInputDevices(kMouseKind), c.count);
    }
}

// The buffer keeps the previous description, so reading past what was returned would show.
TEST_F(CensusTest, ComparesOnlyTheReturnedDescriptionBytes) {
    std::vector<BYTE> oddSize = Bytes(L"HID-compliant mouse");
    oddSize.push_back('Z');
    const struct {
        const char* name;
        std::wstring earlier;
        std::vector<BYTE> later;
        int count;
    } cases[] = {
        {"shorter, no NUL", L"HID-compliant mouse", Bytes(L"HID-compliant mous"), 1},
        {"exact, no NUL", L"HID-compliant mouseZ", Bytes(L"HID-compliant mouse"), 1},
        {"odd byte count", L"x", oddSize, 1},
        {"fills the buffer, no NUL", L"x", Bytes(std::wstring(1024, L'm')), 0},
        {"longer than the buffer", L"x", Bytes(std::wstring(5000, L'm')), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::AddHidMouse(c.earlier);
        sim::SetDeviceDescriptionData(sim::AddHidMouse(), c.later);
        EXPECT_EQ(CountInputDevices(kMouseKind), c.count);
    }
}

TEST_F(CensusTest, InterfaceThatCannotBeReadIsSkippedAndTheWalkGoesOn) {
    const struct {
        const char* name;
        std::function<void(int middle)> spoil;
        int count;
    } cases[] = {
        {"enumeration fails at its index",
         [](int) { sim::FailEnumerationAt(interface_class::kMouse, 1, ERROR_INVALID_DATA); }, 2},
        {"detail size request fails",
         [](int) { sim::FailCall("SetupDiGetDeviceInterfaceDetailW", 3); }, 2},
        {"no size reported: the one before must not be reused",
         [](int id) {
             sim::SetDevicePath(id, L"p");
             sim::SetReportedDetailSize(id, sim::kNoDetailSizeReported);
         },
         2},
        {"detail fetch fails", [](int) { sim::FailCall("SetupDiGetDeviceInterfaceDetailW", 4); },
         2},
        {"detail exactly fills the buffer",
         [](int id) { sim::SetDevicePath(id, PathForDetailSize(kDetailBufferBytes)); }, 3},
        {"detail one unit larger than the buffer",
         [](int id) {
             sim::SetDevicePath(id, PathForDetailSize(kDetailBufferBytes + sizeof(WCHAR)));
         },
         2},
        {"detail far larger than the buffer", [](int id) { sim::SetReportedDetailSize(id, 5000); },
         2},
        {"description unreadable",
         [](int id) { sim::SetDescriptionReadError(id, ERROR_INVALID_DATA); }, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::AddHidMouse();
        c.spoil(sim::AddHidMouse());
        sim::AddHidMouse();
        EXPECT_EQ(CountInputDevices(kMouseKind), c.count);
        EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInterfaces"), 4);
        for (const std::string& args : sim::CallsTo("SetupDiGetDeviceInterfaceDetailW")) {
            unsigned size = 0;
            ASSERT_EQ(std::sscanf(args.c_str(), "%*[^,], %*[^,], %*[^,], %u", &size), 1);
            EXPECT_LE(size, kDetailBufferBytes) << args;
        }
    }
}

// Beyond English Windows describes the standard devices in the display language; what installed
// them says what they are. Only Windows' own entry for the standard device counts.
TEST_F(CensusTest, StandardDevicesCountInAnyLanguageByTheDriverWindowsInstalled) {
    const std::wstring keyboardId = L"hid_device_system_keyboard";
    const struct {
        const char* name;
        DeviceKind kind;
        std::wstring description;
        std::wstring matchingId;
        std::wstring inf;
        int count;
    } cases[] = {
        {"German keyboard", kKeyboardKind, L"HID-Tastatur", keyboardId, L"keyboard.inf", 1},
        {"German mouse, ID and INF in capitals", kMouseKind, L"HID-konforme Maus",
         L"HID_DEVICE_SYSTEM_MOUSE", L"MSMOUSE.INF", 1},
        {"English keyboard, no driver properties", kKeyboardKind, L"HID Keyboard Device", L"", L"",
         1},
        {"German keyboard, no driver properties", kKeyboardKind, L"HID-Tastatur", L"", L"", 0},
        {"vendor keyboard, English", kKeyboardKind, L"Contoso Keyboard", L"HID\\VID_1234&PID_5678",
         L"oem12.inf", 0},
        {"vendor INF on the reserved ID", kKeyboardKind, L"Contoso Tastatur", keyboardId,
         L"oem12.inf", 0},
        {"in-box INF, another entry", kKeyboardKind, L"Tastatur", L"hid\\vid_045e&pid_0750",
         L"keyboard.inf", 0},
        {"mouse driver on a keyboard interface", kKeyboardKind, L"HID-konforme Maus",
         L"hid_device_system_mouse", L"msmouse.inf", 0},
        {"ID with a tail", kKeyboardKind, L"HID-Tastatur", keyboardId + L"2", L"keyboard.inf", 0},
        {"ID longer than the buffer", kKeyboardKind, L"HID-Tastatur", std::wstring(1100, L'h'),
         L"keyboard.inf", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        const int id = c.kind == kMouseKind ? sim::AddHidMouse(c.description)
                                            : sim::AddHidKeyboard(c.description);
        if (!c.matchingId.empty()) {
            sim::InstallDriver(id, c.matchingId, c.inf);
        }
        EXPECT_EQ(CountInputDevices(c.kind), c.count);
        EXPECT_EQ(CountInputDevices(c.kind == kMouseKind ? kKeyboardKind : kMouseKind), 0);
        // Read only for a description that did not match.
        if (c.description == L"HID Keyboard Device") {
            EXPECT_EQ(sim::CountCalls("SetupDiGetDevicePropertyW"), 0);
        }
    }

    // A property of another type, or one that cannot be read, counts nothing, and the walk goes
    // on to the next interface.
    sim::Reset();
    sim::InstallDriver(sim::AddHidKeyboard(L"HID-Tastatur"), keyboardId, L"keyboard.inf");
    sim::SetDeviceProperty(sim::AddHidKeyboard(L"HID-Tastatur"), device_property::kMatchingDeviceId,
                           DEVPROP_TYPE_UINT32, {1, 0, 0, 0});
    sim::InstallDriver(sim::AddHidKeyboard(L"HID-Tastatur"), keyboardId, L"keyboard.inf");
    EXPECT_EQ(CountInputDevices(kKeyboardKind), 2);
    sim::FailCall("SetupDiGetDevicePropertyW", 1);
    EXPECT_EQ(CountInputDevices(kKeyboardKind), 1);
}

// Each interface gets the verdict of the rule that decided it, the same whether the walk counts
// or reads everything; reading everything also hands over the three texts.
TEST_F(CensusTest, WalkGivesEachInterfaceItsVerdictWhateverTheVisitor) {
    struct Seen {
        CensusVerdict verdict;
        CensusStep failedStep;
        DWORD error;
        std::wstring texts;
    };
    const auto walk = [](DeviceKind kind, bool everything) {
        std::vector<Seen> seen;
        CensusPropertyBuffers buffers;
        const CensusVisit collect = [](void* context, const CensusEntry& e) noexcept {
            const auto text = [](const CensusText& t) { return std::wstring(t.units, t.length); };
            static_cast<std::vector<Seen>*>(context)->push_back(
                {e.verdict, e.failedStep, e.error,
                 text(e.description) + L"|" + text(e.matchingDeviceId) + L"|" + text(e.infName)});
        };
        EXPECT_EQ(WalkInputDevices(kind, {collect, &seen, everything ? &buffers : nullptr}), 0u);
        return seen;
    };
    const std::wstring keyboardId = L"HID_DEVICE_SYSTEM_KEYBOARD";
    using V = CensusVerdict;
    using S = CensusStep;
    const struct {
        const char* name;
        DeviceKind kind;
        std::wstring description;
        std::function<void(int id)> driver;
        V verdict;
        S failedStep;
        DWORD error;
        std::wstring texts;
    } cases[] = {
        {"English description", kKeyboardKind, L"HID Keyboard Device",
         [&](int id) { sim::InstallDriver(id, keyboardId, L"keyboard.inf"); },
         V::CountedByDescription, S::None, 0,
         L"HID Keyboard Device|HID_DEVICE_SYSTEM_KEYBOARD|keyboard.inf"},
        {"standard driver in German", kKeyboardKind, L"HID-Tastatur",
         [&](int id) { sim::InstallDriver(id, L"hid_device_system_keyboard", L"KEYBOARD.INF"); },
         V::CountedAsStandardDriver, S::None, 0,
         L"HID-Tastatur|hid_device_system_keyboard|KEYBOARD.INF"},
        {"standard mouse driver", kMouseKind, L"HID-konforme Maus",
         [](int id) { sim::InstallDriver(id, L"HID_DEVICE_SYSTEM_MOUSE", L"msmouse.inf"); },
         V::CountedAsStandardDriver, S::None, 0,
         L"HID-konforme Maus|HID_DEVICE_SYSTEM_MOUSE|msmouse.inf"},
        {"vendor INF on the reserved ID", kKeyboardKind, L"Contoso Keyboard",
         [&](int id) { sim::InstallDriver(id, keyboardId, L"oem12.inf"); }, V::VendorDriver,
         S::None, 0, L"Contoso Keyboard|HID_DEVICE_SYSTEM_KEYBOARD|oem12.inf"},
        {"vendor HID ID", kKeyboardKind, L"Contoso Keyboard",
         [](int id) { sim::InstallDriver(id, L"HID\\VID_1234&PID_5678", L"oem3.inf"); },
         V::VendorDriver, S::None, 0, L"Contoso Keyboard|HID\\VID_1234&PID_5678|oem3.inf"},
        {"PS/2 keyboard", kKeyboardKind, L"Standard PS/2 Keyboard",
         [](int id) { sim::InstallDriver(id, L"*PNP0303", L"keyboard.inf"); }, V::NotHid, S::None,
         0, L"Standard PS/2 Keyboard|*PNP0303|keyboard.inf"},
        {"no driver properties, as under Wine", kKeyboardKind, L"Wine HID device", [](int) {},
         V::Unreadable, S::MatchingDeviceId, ERROR_NOT_FOUND, L"Wine HID device||"},
        {"matching ID of another type", kKeyboardKind, L"HID-Tastatur",
         [](int id) {
             sim::SetDeviceProperty(id, device_property::kMatchingDeviceId, DEVPROP_TYPE_UINT32,
                                    {1, 0, 0, 0});
         },
         V::Unreadable, S::MatchingDeviceId, ERROR_INVALID_DATA, L"HID-Tastatur||"},
        {"INF name missing", kKeyboardKind, L"HID-Tastatur",
         [&](int id) {
             sim::SetDeviceProperty(id, device_property::kMatchingDeviceId, DEVPROP_TYPE_STRING,
                                    Bytes(keyboardId + L'\0'));
         },
         V::Unreadable, S::InfName, ERROR_NOT_FOUND, L"HID-Tastatur|HID_DEVICE_SYSTEM_KEYBOARD|"},
        {"description unreadable", kKeyboardKind, L"HID Keyboard Device",
         [](int id) { sim::SetDescriptionReadError(id, ERROR_INVALID_DATA); }, V::Unreadable,
         S::Description, ERROR_INVALID_DATA, L"||"},
        {"detail larger than the buffer", kKeyboardKind, L"HID Keyboard Device",
         [](int id) { sim::SetReportedDetailSize(id, 5000); }, V::Unreadable, S::InterfaceDetail,
         ERROR_INSUFFICIENT_BUFFER, L"||"},
        {"enumeration fails at its index", kKeyboardKind, L"HID Keyboard Device",
         [](int) { sim::FailEnumerationAt(interface_class::kKeyboard, 0, ERROR_INVALID_DATA); },
         V::Unreadable, S::Enumeration, ERROR_INVALID_DATA, L"||"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        c.driver(sim::AddDeviceInterface(GetDeviceInterfaceGuid(c.kind), c.description));
        const std::vector<Seen> everything = walk(c.kind, true);
        const std::vector<Seen> counting = walk(c.kind, false);
        ASSERT_EQ(everything.size(), 1u);
        ASSERT_EQ(counting.size(), 1u);
        for (const Seen& seen : {everything[0], counting[0]}) {
            EXPECT_EQ(seen.verdict, c.verdict);
            EXPECT_EQ(seen.failedStep, c.failedStep);
            EXPECT_EQ(seen.error, c.error);
        }
        EXPECT_EQ(everything[0].texts, c.texts);
        EXPECT_EQ(counting[0].texts, L"||");
        EXPECT_EQ(CountInputDevices(c.kind), IsCounted(c.verdict) ? 1 : 0);
    }
    EXPECT_EQ(WalkInputDevices(kHidKind, {nullptr, nullptr, nullptr}),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// External only, a counted device is left out when Windows places it in the machine's container;
// one whose container cannot be told counts as it would otherwise.
TEST_F(CensusTest, ExternalOnlyLeavesOutWhatIsInTheMachinesContainer) {
    const auto guid = [](const GUID& g) {
        const auto* first = reinterpret_cast<const BYTE*>(&g);
        return std::vector<BYTE>(first, first + sizeof g);
    };
    const std::vector<BYTE> machine = guid(device_property::kMachineContainer);
    const std::vector<BYTE> own = guid({0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}});
    std::vector<BYTE> longer = own;
    longer.push_back(0);
    using C = CensusContainer;
    struct Stored {
        DEVPROPTYPE type;
        std::vector<BYTE> data;
    };
    const Stored none{DEVPROP_TYPE_EMPTY, {}};
    const struct {
        const char* name;
        Stored inMachine, containerId;
        C container;
        DWORD error;
        int reads;
    } cases[] = {
        // clang-format off
        {"in the machine's container", {DEVPROP_TYPE_BOOLEAN, {0xff}}, {DEVPROP_TYPE_GUID, own},
         C::BuiltIn, 0, 1},
        {"outside it, whatever ContainerId says", {DEVPROP_TYPE_BOOLEAN, {0}},
         {DEVPROP_TYPE_GUID, machine}, C::Attached, 0, 1},
        {"no flag, as before Windows 8: the machine's ContainerId", none,
         {DEVPROP_TYPE_GUID, machine}, C::BuiltIn, 0, 2},
        {"no flag, a ContainerId of its own", none, {DEVPROP_TYPE_GUID, own}, C::Attached, 0, 2},
        {"flag of another type", {DEVPROP_TYPE_UINT32, {0xff, 0xff, 0xff, 0xff}},
         {DEVPROP_TYPE_GUID, machine}, C::BuiltIn, 0, 2},
        {"flag of two bytes", {DEVPROP_TYPE_BOOLEAN, {0xff, 0xff}}, {DEVPROP_TYPE_GUID, own},
         C::Attached, 0, 2},
        {"flag of no bytes", {DEVPROP_TYPE_BOOLEAN, {}}, {DEVPROP_TYPE_GUID, machine}, C::BuiltIn,
         0, 2},
        {"flag neither true nor false", {DEVPROP_TYPE_BOOLEAN, {1}}, {DEVPROP_TYPE_GUID, machine},
         C::BuiltIn, 0, 2},
        {"neither property", none, none, C::Unknown, ERROR_NOT_FOUND, 2},
        {"ContainerId as text", none, {DEVPROP_TYPE_STRING, Bytes(L"{00000000-0000}")}, C::Unknown,
         ERROR_INSUFFICIENT_BUFFER, 2},
        {"ContainerId of 15 bytes", none, {DEVPROP_TYPE_GUID, std::vector<BYTE>(15, 0xff)},
         C::Unknown, ERROR_INVALID_DATA, 2},
        {"ContainerId of 17 bytes", none, {DEVPROP_TYPE_GUID, longer}, C::Unknown,
         ERROR_INSUFFICIENT_BUFFER, 2},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        const int id = sim::AddHidKeyboard();
        sim::SetDeviceProperty(id, device_property::kInLocalMachineContainer, c.inMachine.type,
                               c.inMachine.data);
        sim::SetDeviceProperty(id, device_property::kContainerId, c.containerId.type,
                               c.containerId.data);
        EXPECT_EQ(CountInputDevices(kKeyboardKind, CensusScope::ExternalOnly),
                  c.container == C::BuiltIn ? 0 : 1);
        EXPECT_EQ(sim::CountCalls("SetupDiGetDevicePropertyW"), c.reads);
        sim::ClearJournal();
        EXPECT_EQ(CountInputDevices(kKeyboardKind), 1);
        EXPECT_EQ(sim::CountCalls("SetupDiGetDevicePropertyW"), 0);

        CensusEntry seen;
        CensusPropertyBuffers buffers;
        const CensusVisit keep = [](void* context, const CensusEntry& e) noexcept {
            *static_cast<CensusEntry*>(context) = e;
        };
        ASSERT_EQ(WalkInputDevices(kKeyboardKind, {keep, &seen, &buffers}), 0u);
        EXPECT_EQ(seen.container, c.container);
        EXPECT_EQ(seen.containerError, c.error);
        EXPECT_EQ(seen.containerStep, c.error != 0 ? CensusStep::ContainerId : CensusStep::None);
        EXPECT_EQ(seen.containerIdRead, c.containerId.type == DEVPROP_TYPE_GUID &&
                                            c.containerId.data.size() == sizeof(GUID));
    }

    // A device that does not count is never asked where it is.
    sim::Reset();
    sim::PlaceInContainer(sim::AddHidKeyboard(L"Contoso Keyboard"),
                          device_property::kMachineContainer);
    EXPECT_EQ(CountInputDevices(kKeyboardKind, CensusScope::ExternalOnly), 0);
    EXPECT_EQ(sim::CountCalls("SetupDiGetDevicePropertyW"), 1); // its matching device ID alone
}

TEST_F(CensusTest, PersistentEnumerationFailureEndsTheWalk) {
    sim::AddHidMouse();
    sim::FailCall("SetupDiEnumDeviceInterfaces", 1, ERROR_INVALID_PARAMETER, /*persistent=*/true);
    EXPECT_EQ(CountInputDevices(kMouseKind), 0);
    EXPECT_LE(sim::CountCalls("SetupDiEnumDeviceInterfaces"), 16);
}

TEST_F(CensusTest, FaultSweepReleasesTheSetAndNeverCountsAnUnreadDevice) {
    const bool described[] = {true, false, true};
    const auto seed = [&] {
        sim::Reset();
        for (bool d : described) {
            sim::AddHidMouse(d ? L"HID-compliant mouse" : L"PS/2 Compatible Mouse");
        }
        sim::AddHidMouse(L"HID-compliant mouse", /*present=*/false);
    };
    seed();
    ASSERT_EQ(CountInputDevices(kMouseKind), 2);
    // For each faultable call, the index of the interface it was reading (-1: none yet).
    std::vector<int> reading;
    int index = -1;
    for (const sim::Call& call : sim::Journal()) {
        index += call.op == "SetupDiEnumDeviceInterfaces" ? 1 : 0;
        if (call.faultable) {
            reading.push_back(index);
        }
    }
    for (std::size_t n = 1; n <= reading.size(); ++n) {
        SCOPED_TRACE("failing faultable call " + std::to_string(n));
        seed();
        sim::FailAnyCall(static_cast<int>(n));
        const int count = CountInputDevices(kMouseKind);
        EXPECT_EQ(sim::FaultsFired(), 1);
        EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::DeviceInfoSet), 0);
        const int i = reading[n - 1];
        EXPECT_EQ(count, i < 0 ? 0 : 2 - (i < 3 && described[i] ? 1 : 0));
    }
}

} // namespace
