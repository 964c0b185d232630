#include "trigger/slate_mode.h"

#include "config/diagnostic_log.h"
#include "platform/unique_handle.h"

namespace {

constexpr DWORD kTabletMode = 0;
constexpr DWORD kLaptopMode = 1;
constexpr DWORD kTemporaryValue = 10;

LSTATUS WriteSlateMode(HKEY key, DWORD value) {
    return RegSetValueExA(key, kSlateModeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

// Opens the key with `access` and reads the value as both the switch and a report need it. On
// failure the key is left open for the caller to close before it says why.
SlateModeReading OpenSlateMode(REGSAM access, UniqueRegistryKey& key) {
    SlateModeReading reading;
    reading.status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, 0, access, key.receive());
    if (reading.status != ERROR_SUCCESS) {
        reading.failure = SlateModeReading::Failure::OpenKey;
        return reading;
    }
    DWORD size = sizeof reading.value;
    reading.status = RegQueryValueExA(key.get(), kSlateModeValue, nullptr, &reading.type,
                                      reinterpret_cast<BYTE*>(&reading.value), &size);
    if (reading.status != ERROR_SUCCESS) {
        reading.failure = SlateModeReading::Failure::QueryValue;
    } else if (reading.type != REG_DWORD) {
        reading.failure = SlateModeReading::Failure::WrongType;
    }
    return reading;
}

// Opens the key for querying and setting and makes sure the value exists as a REG_DWORD, so
// that a later write never creates it. Logs and returns false otherwise.
bool OpenExistingSlateMode(UniqueRegistryKey& key, DWORD& current) {
    const SlateModeReading reading = OpenSlateMode(KEY_QUERY_VALUE | KEY_SET_VALUE, key);
    current = reading.value;
    switch (reading.failure) {
    case SlateModeReading::Failure::None:
        return true;
    case SlateModeReading::Failure::OpenKey:
        LogError("open key failed: %d", static_cast<int>(reading.status));
        return false;
    case SlateModeReading::Failure::QueryValue:
        key.reset();
        LogError("query ConvertibleSlateMode failed: %d", static_cast<int>(reading.status));
        return false;
    case SlateModeReading::Failure::WrongType:
        key.reset();
        LogError("incorrect value type");
        return false;
    }
    return false;
}

} // namespace

bool SetTabletMode(DWORD mode, bool force) {
    SlateModeSwitch done;
    return SetTabletMode(mode, force, done);
}

bool SetTabletMode(DWORD mode, bool force, SlateModeSwitch& done) {
    done = SlateModeSwitch{};
    if (mode != kTabletMode && mode != kLaptopMode) {
        return false;
    }
    UniqueRegistryKey key;
    DWORD current = 0;
    if (!OpenExistingSlateMode(key, current)) {
        return false;
    }
    if (current == kLaptopMode && mode == kLaptopMode && force) {
        // Windows reacts to a change of the value only, so pass through another value first.
        done.throughTemporaryValue = WriteSlateMode(key.get(), kTemporaryValue) == ERROR_SUCCESS;
        LogVerbose("SetTabletMode, temperal value: %d", static_cast<int>(kTemporaryValue));
    }
    const LSTATUS status = WriteSlateMode(key.get(), mode);
    if (status != ERROR_SUCCESS) {
        LogError("set ConvertibleSlateMode failed: %d", static_cast<int>(status));
    }
    done.changed = status == ERROR_SUCCESS && current != mode;
    return status == ERROR_SUCCESS;
}

bool InitializeConvertibleSlateMode() {
    bool written = false;
    {
        UniqueRegistryKey key;
        DWORD current = 0;
        if (OpenExistingSlateMode(key, current)) {
            const LSTATUS status = WriteSlateMode(key.get(), kLaptopMode);
            if (status != ERROR_SUCCESS) {
                LogError("set ConvertibleSlateMode failed: %d", static_cast<int>(status));
            }
            written = status == ERROR_SUCCESS;
        }
    }
    LogVerbose("InitializeConvertibleSlateMode: %d", written ? 1 : 0);
    return written;
}

SlateModeReading ReadConvertibleSlateMode() {
    // Queried as the switch queries it, so that a value it would refuse is refused here too.
    UniqueRegistryKey key;
    return OpenSlateMode(KEY_QUERY_VALUE, key);
}
