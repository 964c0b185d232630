// The configuration readers and the log start-up over any stored value: any type, any size up
// to 64 KiB, any bytes, with or without a terminator, and any failed registry call.
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "fuzz/fuzz_support.h"
#include "platform/sim/registry_control.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kMaxValue = 64 * 1024;

// The log is a real file of this host: a fuzzed path is kept inside a private directory, or
// else it is never opened.
const std::string& LogDirectory() {
    static const std::string directory = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/hingeflow-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return pattern + "/";
    }();
    return directory;
}

std::vector<BYTE> ConfinedPath(std::vector<BYTE> bytes) {
    std::replace(bytes.begin(), bytes.end(), static_cast<BYTE>('/'), static_cast<BYTE>('_'));
    std::vector<BYTE> path(LogDirectory().begin(), LogDirectory().end());
    path.insert(path.end(), bytes.begin(), bytes.end());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Iteration iteration;
    FuzzedDataProvider in(data, size);

    static const char* const kNames[] = {kTriggerDeviceValue, kBuiltInKeyboardNumberValue,
                                         kLogPathValue};
    const char* name = in.PickValueInArray(kNames);
    const int keyState = in.ConsumeIntegralInRange(0, 2); // 0 no key, 1 key only, 2 the value
    const DWORD type = fuzz::ValueType(in);
    const bool confineLog = in.ConsumeBool();
    std::vector<BYTE> bytes = fuzz::Bytes(in, kMaxValue);
    const bool isLogPath = std::strcmp(name, kLogPathValue) == 0;
    if (isLogPath && confineLog) {
        bytes = ConfinedPath(std::move(bytes));
    }
    // The value under the configuration key, or under the policy key that wins over it.
    const bool byPolicy = in.ConsumeBool();
    const HKEY hive = byPolicy ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_CONFIG;
    const char* key = byPolicy ? kPolicyKeyPath : kConfigKeyPath;
    if (keyState == 0) {
        sim::DeleteRegistryKey(hive, key); // Windows always has the configuration key
    } else if (keyState == 1) {
        sim::CreateRegistryKey(hive, key);
    } else if (keyState == 2) {
        sim::SetRegistryValue(hive, key, name, type, bytes);
    }
    if (!(isLogPath && confineLog)) {
        sim::FailCall("CreateFileA", 1, ERROR_ACCESS_DENIED, true);
    }
    fuzz::ArmFaults(in);

    InitLog();
    fuzz::Check(!g_logEnabled || (g_logPath[0] != '\0' &&
                                  std::memchr(g_logPath, 0, sizeof g_logPath) != nullptr),
                "logging on without a terminated path");
    fuzz::Check(!g_logEnabled ||
                    std::strncmp(g_logPath, LogDirectory().c_str(), LogDirectory().size()) == 0,
                "logging on with a path nobody stored");

    const int faultsBefore = sim::FaultsFired();
    const std::string text = ReadSettingString(name);
    const std::string quiet = ReadSettingStringQuiet(name);
    const DWORD number = ReadSettingDword(name);
    const bool faulted = sim::FaultsFired() != faultsBefore;

    for (const std::string* read : {&text, &quiet}) {
        fuzz::Check(read->size() < 2048 && read->find('\0') == std::string::npos,
                    "text longer than its buffer or with a zero inside");
        fuzz::Check(read->empty() ||
                        (type == REG_SZ && keyState == 2 && read->size() <= bytes.size() &&
                         std::memcmp(read->data(), bytes.data(), read->size()) == 0),
                    "text that was not stored");
    }
    if (!faulted && keyState == 2 && type == REG_DWORD && bytes.size() <= 4) {
        DWORD expected = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            expected |= static_cast<DWORD>(bytes[i]) << (8 * i);
        }
        fuzz::Check(number == expected, "a short REG_DWORD read back differently");
    } else if (!(keyState == 2 && type == REG_DWORD)) {
        fuzz::Check(number == 0, "a number from a value that is not a REG_DWORD");
    }

    if (g_logEnabled) {
        std::remove(g_logPath);
    }
    g_logEnabled = false;
    g_logPath[0] = '\0';
    return 0;
}
