// The frame's control handler and the service's hooks under any sequence of control codes,
// event types and event records, while the decider decides on its own thread. Each record lies
// in a buffer of exactly its own length, so the address sanitizer reports any read beyond what
// the record holds, whatever its size field says.
#include "config/config_values.h"
#include "fuzz/fuzz_support.h"
#include "platform/device_interface_classes.h"
#include "platform/power.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/setupapi_control.h"
#include "trigger/hingeflow_service.h"
#include "trigger/slate_mode.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxSteps = 48;

DWORD Control(FuzzedDataProvider& in) {
    static constexpr DWORD kControls[] = {
        SERVICE_CONTROL_STOP,        SERVICE_CONTROL_PAUSE,        SERVICE_CONTROL_CONTINUE,
        SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_SHUTDOWN,     SERVICE_CONTROL_DEVICEEVENT,
        SERVICE_CONTROL_POWEREVENT,  SERVICE_CONTROL_SESSIONCHANGE};
    return in.ConsumeBool() ? in.PickValueInArray(kControls) : in.ConsumeIntegral<DWORD>();
}

DWORD EventType(FuzzedDataProvider& in) {
    static constexpr DWORD kTypes[] = {DBT_DEVICEARRIVAL,      DBT_DEVICEREMOVECOMPLETE,
                                       DBT_DEVNODES_CHANGED,   DBT_DEVICEQUERYREMOVE,
                                       PBT_APMRESUMEAUTOMATIC, PBT_APMSUSPEND,
                                       PBT_APMRESUMESUSPEND,   PBT_POWERSETTINGCHANGE};
    return in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<DWORD>();
}

// The context is never read: small addresses, odd addresses and the all-ones pointer, never
// anything mapped by design.
LPVOID Pointer(FuzzedDataProvider& in) {
    return reinterpret_cast<LPVOID>(in.ConsumeIntegral<std::uintptr_t>() | 1u);
}

void Put(std::vector<BYTE>& record, std::size_t offset, const void* field, std::size_t size) {
    if (offset + size <= record.size()) {
        std::memcpy(record.data() + offset, field, size);
    }
}

// None (empty), one short of a device-interface record, a whole one with a path of any length,
// or one whose size field claims far more than its bytes; of any device type and class.
std::vector<BYTE> Record(FuzzedDataProvider& in) {
    static constexpr GUID kClasses[] = {interface_class::kUsbDevice, interface_class::kKeyboard,
                                        interface_class::kMouse, interface_class::kHid,
                                        interface_class::kUsbHub};
    constexpr std::size_t kWhole = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W);
    std::vector<BYTE> record;
    DWORD declared = 0;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return record;
    case 1:
        record.resize(in.ConsumeIntegralInRange<std::size_t>(sizeof(DWORD), kWhole - 1));
        // Never more than it holds: no reader could tell such a record from a whole one.
        declared = in.ConsumeIntegralInRange<DWORD>(0, static_cast<DWORD>(record.size()));
        break;
    case 2:
        record.resize(kWhole + 2 * in.ConsumeIntegralInRange<std::size_t>(0, 300));
        declared = static_cast<DWORD>(record.size());
        break;
    default:
        record.resize(kWhole + 2 * in.ConsumeIntegralInRange<std::size_t>(0, 8));
        declared =
            in.ConsumeIntegralInRange<DWORD>(static_cast<DWORD>(record.size()) + 1, 0xFFFFFFFFu);
        break;
    }
    const DWORD type =
        in.ConsumeBool() ? DWORD{DBT_DEVTYP_DEVICEINTERFACE} : in.ConsumeIntegral<DWORD>();
    GUID interfaceClass = in.PickValueInArray(kClasses);
    if (in.ConsumeBool()) {
        const std::vector<BYTE> bytes = in.ConsumeBytes<BYTE>(sizeof interfaceClass);
        if (!bytes.empty()) {
            std::memcpy(&interfaceClass, bytes.data(), bytes.size());
        }
    }
    // The path, or whatever else lies beyond the header.
    const std::vector<BYTE> rest = in.ConsumeBytes<BYTE>(record.size());
    if (!rest.empty()) {
        std::memcpy(record.data(), rest.data(), rest.size());
    }
    Put(record, 0, &declared, sizeof declared);
    Put(record, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_devicetype), &type, sizeof type);
    Put(record, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid), &interfaceClass,
        sizeof interfaceClass);
    return record;
}

// What Windows sends with PBT_POWERSETTINGCHANGE: a POWERBROADCAST_SETTING holding as many
// bytes of data as its DataLength says, of the display state or another setting; or none.
std::vector<BYTE> PowerSetting(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) {
        return {};
    }
    GUID setting = power_setting::kConsoleDisplayState;
    if (in.ConsumeBool()) {
        const std::vector<BYTE> bytes = in.ConsumeBytes<BYTE>(sizeof setting);
        std::copy(bytes.begin(), bytes.end(), reinterpret_cast<BYTE*>(&setting));
    }
    const DWORD length = in.ConsumeIntegralInRange<DWORD>(0, 8);
    std::vector<BYTE> record(power_setting::kSettingDataOffset + length, 0);
    std::memcpy(record.data(), &setting, sizeof setting);
    std::memcpy(record.data() + sizeof setting, &length, sizeof length);
    const std::vector<BYTE> data = in.ConsumeBytes<BYTE>(length);
    std::copy(data.begin(), data.end(), record.begin() + power_setting::kSettingDataOffset);
    if (length == sizeof(DWORD) && in.ConsumeBool()) {
        const DWORD state = in.ConsumeIntegralInRange<DWORD>(0, 2); // one Windows sends
        std::memcpy(record.data() + power_setting::kSettingDataOffset, &state, sizeof state);
    }
    return record;
}

// The record that comes with a control: a power setting's own for PBT_POWERSETTINGCHANGE, which
// Windows always sends as one, a device record of any shape otherwise.
std::vector<BYTE> RecordFor(DWORD control, DWORD eventType, FuzzedDataProvider& in) {
    return control == SERVICE_CONTROL_POWEREVENT && eventType == PBT_POWERSETTINGCHANGE
               ? PowerSetting(in)
               : Record(in);
}

LPVOID Data(std::vector<BYTE>& record) {
    return record.empty() ? nullptr : record.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Iteration iteration;
    FuzzedDataProvider in(data, size);

    if (in.ConsumeBool()) {
        sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue,
                              in.ConsumeIntegralInRange<DWORD>(0, 1));
    }
    if (in.ConsumeBool()) {
        sim::SetRegistryDword(HKEY_CURRENT_CONFIG, kConfigKeyPath, kBuiltInKeyboardNumberValue, 1);
    }
    const int builtIn = sim::AddHidKeyboard();
    const int dockMouse = sim::AddHidMouse(L"HID-compliant mouse", false);
    const int dockKeyboard = sim::AddHidKeyboard(L"HID Keyboard Device", false);
    (void)builtIn;

    {
        HingeflowService service;
        // Outside a played SCM the dispatcher fails at once, having published the object.
        if (in.ConsumeBool()) {
            ServiceBase::Run(service);
        }
        for (int step = 0; step < kMaxSteps && in.remaining_bytes() > 0; ++step) {
            switch (in.ConsumeIntegralInRange(0, 9)) {
            case 0:
            case 1:
            case 2: {
                const DWORD control = Control(in);
                const DWORD eventType = EventType(in);
                std::vector<BYTE> record = RecordFor(control, eventType, in);
                fuzz::Check(ServiceBase::ControlHandler(control, eventType, Data(record),
                                                        Pointer(in)) == NO_ERROR,
                            "the handler answered a control with an error");
                break;
            }
            case 3: {
                const DWORD eventType = EventType(in);
                std::vector<BYTE> record = Record(in);
                service.OnDeviceEvent(eventType, Data(record));
                break;
            }
            case 4: {
                const DWORD eventType = EventType(in);
                std::vector<BYTE> record = RecordFor(SERVICE_CONTROL_POWEREVENT, eventType, in);
                service.onPowerEvent(eventType, Data(record));
                break;
            }
            case 5:
                service.onStart(0, nullptr);
                break;
            case 6:
                in.ConsumeBool() ? service.OnStop() : service.OnShutdown();
                break;
            case 7: {
                const bool present = in.ConsumeBool();
                sim::SetDevicePresent(dockMouse, present);
                sim::SetDevicePresent(dockKeyboard, present);
                break;
            }
            case 8:
                if (in.ConsumeBool()) {
                    ServiceBase::ServiceMain(0, nullptr);
                } else {
                    // The decider is started by onStart, or here; then its decisions are awaited.
                    in.ConsumeBool() ? (void)service.StartDecider()
                                     : (void)service.WaitUntilDecided();
                }
                break;
            default:
                fuzz::ArmFaults(in);
                break;
            }
        }
    }
    g_service = nullptr;
    return 0;
}
