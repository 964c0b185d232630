// The slate-mode switch and the start-up switch over any stored type, size and data, any mode
// and any failed registry call.
#include "fuzz/fuzz_support.h"
#include "platform/sim/registry_control.h"
#include "trigger/slate_mode.h"

#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Iteration iteration;
    FuzzedDataProvider in(data, size);

    const int keyState = in.ConsumeIntegralInRange(0, 2); // 0 no key, 1 key only, 2 the value
    const DWORD type = in.ConsumeBool() ? REG_DWORD : fuzz::ValueType(in);
    const std::vector<BYTE> bytes = fuzz::Bytes(in, in.ConsumeBool() ? 8 : 64 * 1024);
    const bool startUp = in.ConsumeBool();
    const DWORD mode = in.ConsumeBool() ? in.ConsumeIntegralInRange<DWORD>(0, 1)
                                        : in.ConsumeIntegral<DWORD>();
    const bool force = in.ConsumeBool();
    if (keyState == 1) {
        sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, kSlateModeKeyPath);
    } else if (keyState == 2) {
        sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, type, bytes);
    }
    fuzz::ArmFaults(in);

    const bool written = startUp ? InitializeConvertibleSlateMode() : SetTabletMode(mode, force);
    const bool faulted = sim::FaultsFired() != 0;
    const std::optional<sim::RegistryValue> after =
        sim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue);

    fuzz::Check(keyState == 2 || !after.has_value(), "the value was created");
    const DWORD wanted = startUp ? 1 : mode;
    if (written) {
        fuzz::Check(after && after->type == REG_DWORD &&
                        sim::GetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath,
                                              kSlateModeValue) == wanted,
                    "success reported without the mode stored");
    }
    const bool wellFormed = keyState == 2 && type == REG_DWORD && bytes.size() <= 4;
    if (!faulted && wellFormed && wanted <= 1) {
        fuzz::Check(written, "a stored REG_DWORD was not switched");
    }
    if (!wellFormed || wanted > 1) {
        fuzz::Check(!written, "a switch it should have refused");
        if (keyState == 2) {
            fuzz::Check(after && after->type == type && after->data == bytes,
                        "a value it should have refused was changed");
        }
    }
    return 0;
}
