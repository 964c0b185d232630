// The census and the presence check over any set of interfaces and devices: descriptions of any
// length with or without their zero, any driver and container properties, any reported detail
// size, failures at any step, and any trigger value, built-in number and external-only value; and
// status's listing of them.
#include "config/config_values.h"
#include "fuzz/fuzz_support.h"
#include "platform/device_properties.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/setupapi_control.h"
#include "service/status.h"
#include "trigger/input_census.h"
#include "trigger/presence_check.h"

#include <cstring>
#include <string>

namespace {

GUID InterfaceClass(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return interface_class::kMouse;
    case 1:
        return interface_class::kKeyboard;
    case 2:
        return GetDeviceInterfaceGuid(in.ConsumeIntegral<DeviceKind>());
    default: {
        GUID guid{};
        guid.Data1 = in.ConsumeIntegral<std::uint32_t>();
        return guid;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Iteration iteration;
    FuzzedDataProvider in(data, size);

    int mice = 0;
    int keyboards = 0;
    const int devices = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < devices; ++i) {
        const GUID interfaceClass = InterfaceClass(in);
        const bool present = in.ConsumeBool();
        const int id = in.ConsumeBool()
                           ? sim::AddDeviceInterface(interfaceClass,
                                                     in.ConsumeBool() ? L"HID-compliant mouse"
                                                                      : L"HID Keyboard Device",
                                                     present)
                           : sim::AddDeviceInterface(interfaceClass, L"", present);
        if (in.ConsumeBool()) {
            sim::SetDeviceDescriptionData(id, fuzz::Bytes(in, in.ConsumeBool() ? 48 : 4096));
        }
        if (in.ConsumeIntegralInRange(0, 7) == 0) {
            sim::SetDescriptionReadError(id, fuzz::ErrorCode(in));
        }
        if (in.ConsumeIntegralInRange(0, 3) == 0) {
            if (in.ConsumeBool()) {
                sim::InstallDriver(id,
                                   in.ConsumeBool() ? L"hid_device_system_keyboard"
                                                    : L"HID_DEVICE_SYSTEM_MOUSE",
                                   in.ConsumeBool() ? L"keyboard.inf" : L"msmouse.inf");
            } else {
                sim::SetDeviceProperty(id,
                                       in.ConsumeBool() ? device_property::kMatchingDeviceId
                                                        : device_property::kDriverInfPath,
                                       in.ConsumeIntegralInRange<DEVPROPTYPE>(0, 0x20),
                                       fuzz::Bytes(in, in.ConsumeBool() ? 64 : 4096));
            }
        }
        if (in.ConsumeBool()) {
            if (in.ConsumeBool()) {
                GUID container{};
                if (in.ConsumeBool()) {
                    container = device_property::kMachineContainer;
                } else {
                    container.Data1 = in.ConsumeIntegral<std::uint32_t>();
                }
                sim::PlaceInContainer(id, container);
            } else {
                sim::SetDeviceProperty(id,
                                       in.ConsumeBool() ? device_property::kInLocalMachineContainer
                                                        : device_property::kContainerId,
                                       in.ConsumeIntegralInRange<DEVPROPTYPE>(0, 0x20),
                                       fuzz::Bytes(in, in.ConsumeBool() ? 20 : 64));
            }
        }
        if (in.ConsumeIntegralInRange(0, 3) == 0) {
            const DWORD detail = in.ConsumeBool() ? sim::kNoDetailSizeReported
                                                  : in.ConsumeIntegralInRange<DWORD>(0, 2048);
            sim::SetReportedDetailSize(id, detail);
        }
        if (present) {
            mice += IsEqualGUID(interfaceClass, interface_class::kMouse) ? 1 : 0;
            keyboards += IsEqualGUID(interfaceClass, interface_class::kKeyboard) ? 1 : 0;
        }
    }
    if (in.ConsumeBool()) {
        sim::FailEnumerationAt(InterfaceClass(in), in.ConsumeIntegralInRange<DWORD>(0, 16),
                               fuzz::ErrorCode(in));
    }
    if (in.ConsumeBool()) {
        static const char* const kTriggers[] = {"mouse", "keyboard", "MoUsE", "KEYBOARD", ""};
        if (in.ConsumeBool()) {
            sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue,
                                   in.PickValueInArray(kTriggers));
        } else {
            sim::SetRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, kTriggerDeviceValue,
                                  fuzz::ValueType(in), fuzz::Bytes(in, 4096));
        }
    }
    if (in.ConsumeBool()) {
        sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue,
                              in.ConsumeBool() ? in.ConsumeIntegralInRange<DWORD>(0, 4)
                                               : in.ConsumeIntegral<DWORD>());
    }
    if (in.ConsumeBool()) {
        if (in.ConsumeBool()) {
            sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kExternalDevicesOnlyValue,
                                  in.ConsumeIntegralInRange<DWORD>(0, 2));
        } else {
            sim::SetRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, kExternalDevicesOnlyValue,
                                  fuzz::ValueType(in), fuzz::Bytes(in, 16));
        }
    }
    const DeviceKind kind = in.ConsumeBool() ? in.ConsumeIntegralInRange<DeviceKind>(-1, 5)
                                             : in.ConsumeIntegral<DeviceKind>();
    fuzz::ArmFaults(in);

    const std::int32_t count = CountInputDevices(kind);
    fuzz::Check(count >= 0, "a negative census");
    fuzz::Check(kind == kMouseKind      ? count <= mice
                : kind == kKeyboardKind ? count <= keyboards
                                        : count == 0,
                "more devices counted than are present");
    fuzz::Check(CountInputDevices(kind, CensusScope::ExternalOnly) >= 0,
                "a negative census of external devices");
    const std::int32_t builtIn = ReadBuiltInKeyboardNumber();
    fuzz::Check(builtIn >= 0, "a negative built-in number");
    const std::string trigger = ReadTriggerDevice();
    for (const char c : trigger) {
        fuzz::Check(c < 'A' || c > 'Z', "an upper-case letter in the trigger kind");
    }
    const bool attached = IsExternalInputAttached();
    fuzz::Check(!attached || mice > 0 || keyboards > 0, "input attached with nothing present");

    // Reading everything, as status does: the verdicts of the count, and printable ASCII out of
    // any description, ID or INF name.
    sim::ClearFaults();
    const StatusFacts facts = GatherStatusFacts(L"HingeflowService");
    for (const DeviceKind counted : {kMouseKind, kKeyboardKind}) {
        fuzz::Check(CountInputDevices(counted, CensusScope::ExternalOnly) <=
                        CountInputDevices(counted),
                    "more external devices than devices");
    }
    for (const CensusScope scope : {CensusScope::AllDevices, CensusScope::ExternalOnly}) {
        std::int32_t listedMice = 0;
        std::int32_t listedKeyboards = 0;
        for (const DeviceFacts& device : facts.devices) {
            if (IsCounted(device.verdict, device.container, scope)) {
                ++(device.kind == kMouseKind ? listedMice : listedKeyboards);
            }
        }
        fuzz::Check(listedMice == CountInputDevices(kMouseKind, scope) &&
                        listedKeyboards == CountInputDevices(kKeyboardKind, scope),
                    "the listing counted otherwise than the count");
    }
    for (const std::string& printed : {StatusText(facts), StatusJson(facts)}) {
        for (const char c : printed) {
            fuzz::Check(c == '\n' || (c >= 0x20 && c < 0x7F), "status printed a non-ASCII byte");
        }
    }
    return 0;
}
