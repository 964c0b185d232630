// The frame's control handler and the service's hooks under any sequence of control codes,
// event types and event-data pointers. The pointers point nowhere: the address sanitizer
// reports the first read through one.
#include "config/config_values.h"
#include "fuzz/fuzz_support.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/setupapi_control.h"
#include "trigger/hingeflow_service.h"
#include "trigger/slate_mode.h"

namespace {

constexpr int kMaxSteps = 48;

DWORD Control(FuzzedDataProvider& in) {
    static constexpr DWORD kControls[] = {
        SERVICE_CONTROL_STOP,        SERVICE_CONTROL_PAUSE,      SERVICE_CONTROL_CONTINUE,
        SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_SHUTDOWN,   SERVICE_CONTROL_DEVICEEVENT,
        SERVICE_CONTROL_POWEREVENT,  SERVICE_CONTROL_SESSIONCHANGE};
    return in.ConsumeBool() ? in.PickValueInArray(kControls) : in.ConsumeIntegral<DWORD>();
}

DWORD EventType(FuzzedDataProvider& in) {
    static constexpr DWORD kTypes[] = {DBT_DEVICEARRIVAL,      DBT_DEVICEREMOVECOMPLETE,
                                       DBT_DEVNODES_CHANGED,   DBT_DEVICEQUERYREMOVE,
                                       PBT_APMRESUMEAUTOMATIC, PBT_APMSUSPEND,
                                       PBT_APMRESUMESUSPEND};
    return in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<DWORD>();
}

// Small addresses, odd addresses and the all-ones pointer, never anything mapped by design.
LPVOID Pointer(FuzzedDataProvider& in) {
    return reinterpret_cast<LPVOID>(in.ConsumeIntegral<std::uintptr_t>() | 1u);
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
                fuzz::Check(ServiceBase::ControlHandler(control, eventType, Pointer(in),
                                                        Pointer(in)) == NO_ERROR,
                            "the handler answered a control with an error");
                break;
            }
            case 3:
                service.OnDeviceEvent(EventType(in), Pointer(in));
                break;
            case 4:
                service.onPowerEvent(EventType(in), Pointer(in));
                break;
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
                ServiceBase::ServiceMain(0, nullptr);
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
