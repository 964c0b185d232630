// Google Benchmark over the simulator: the decision path beside the bare platform calls it
// makes, the control handler's own part of it, the census at growing sizes, and the diagnostic
// log off and on. Exits non-zero when a
// census (or a log call while logging is off) allocates or touches the file system: those are
// properties of the code, not of the machine, so they fail the run.
#include "bench/baseline/bare_decision.h"
#include "tests/support/counting_new.h"
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/device_properties.h"
#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/setupapi_control.h"
#include "trigger/decider.h"
#include "trigger/hingeflow_service.h"
#include "trigger/input_census.h"
#include "trigger/slate_mode.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> g_violations;

// Counts the allocations of the loop it encloses.
class AllocationScope {
public:
    AllocationScope() { counting_new::Start(); }
    ~AllocationScope() { counting_new::Stop(); }
    long Count() const { return counting_new::Stop(); }
};

void ReportAllocations(benchmark::State& state, const std::string& name, long allocations,
                       bool mustBeZero) {
    state.counters["allocs/iter"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    if (mustBeZero && allocations != 0) {
        g_violations.push_back(name + ": " + std::to_string(allocations) + " allocations in " +
                               std::to_string(state.iterations()) + " iterations");
    }
}

enum class Policy { Absent, Values };

// A convertible with its built-in keyboard and touchpad, and one external USB keyboard; its
// values set by the configuration or, where given, by policy, which then also sets the mode, to
// 0 where it is off. External only, Windows places the first two in the machine's container and
// the keyboard, with a pointing stick, in its own: the touchpad then no longer counts, and the
// stick does.
void SeedConvertibleWithExternalKeyboard(bool externalOnly = false,
                                         Policy policy = Policy::Absent) {
    sim::Reset();
    const HKEY hive = policy == Policy::Absent ? HKEY_CURRENT_CONFIG : HKEY_LOCAL_MACHINE;
    const char* key = policy == Policy::Absent ? kConfigKeyPath : kPolicyKeyPath;
    sim::SetRegistryDword(hive, key, kBuiltInKeyboardNumberValue, 1);
    sim::SetRegistryString(hive, key, kTriggerDeviceValue, "both");
    sim::SetRegistryDword(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, 1);
    sim::AddHidKeyboard();
    sim::AddHidMouse();
    sim::AddHidKeyboard();
    if (policy == Policy::Values) {
        sim::SetRegistryDword(hive, key, kExternalDevicesOnlyValue, externalOnly ? 1 : 0);
    }
    if (externalOnly) {
        constexpr GUID kCover = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};
        sim::SetRegistryDword(hive, key, kExternalDevicesOnlyValue, 1);
        sim::PlaceInContainer(1, device_property::kMachineContainer);
        sim::PlaceInContainer(2, device_property::kMachineContainer);
        sim::PlaceInContainer(3, kCover);
        sim::PlaceInContainer(sim::AddHidMouse(), kCover);
    }
}

// The calls of a decision, without the events and waits through which the control handler hands
// it to the decider and the decider settles: those the baseline, deciding inline, has no use for.
std::vector<std::string> JournalOps() {
    std::vector<std::string> ops;
    for (const sim::Call& call : sim::Journal()) {
        if (call.op != "SetEvent" && call.op != "ResetEvent" && call.op != "GetTickCount64" &&
            call.op.rfind("WaitFor", 0) != 0) {
            ops.push_back(call.op);
        }
    }
    return ops;
}

// The baseline is only fair if it makes exactly the calls the decision makes, with the policy
// key absent (the timed case) and with policy setting the values.
bool BaselineMatchesDecision(bool externalOnly, Policy policy) {
    const char* where = policy == Policy::Absent ? "policy key absent" : "values by policy";
    SeedConvertibleWithExternalKeyboard(externalOnly, policy);
    HingeflowService service;
    service.StartDecider();
    sim::ClearJournal();
    service.OnDeviceEvent(DBT_DEVICEARRIVAL, nullptr);
    service.WaitUntilDecided();
    const std::vector<std::string> decision = JournalOps();
    const std::vector<DWORD> decisionWrites = sim::DwordWritesTo(kSlateModeValue);
    const std::size_t registryCalls = static_cast<std::size_t>(
        std::count_if(decision.begin(), decision.end(),
                      [](const std::string& op) { return op.rfind("Reg", 0) == 0; }));

    SeedConvertibleWithExternalKeyboard(externalOnly, policy);
    const bool written = bare::Decision();
    const std::vector<std::string> baseline = JournalOps();
    const std::vector<DWORD> baselineWrites = sim::DwordWritesTo(kSlateModeValue);

    const bool same = written && decision == baseline && decisionWrites == baselineWrites &&
                      decisionWrites == std::vector<DWORD>{10, 1};
    if (!same) {
        std::fprintf(stderr, "baseline and decision differ (%s):\n", where);
        for (std::size_t i = 0; i < decision.size() || i < baseline.size(); ++i) {
            std::fprintf(stderr, "  %-36s %s\n", i < decision.size() ? decision[i].c_str() : "-",
                         i < baseline.size() ? baseline[i].c_str() : "-");
        }
    } else {
        std::printf("decision and baseline both make the same %zu platform calls, %zu of them "
                    "registry calls (%s%s)\n",
                    decision.size(), registryCalls, where,
                    externalOnly ? ", external devices only" : "");
    }
    return same;
}

// From the control handler's call to the write, on the decider's thread: real time, as the work
// is done on another thread. The settle time passes at once in the simulator's virtual time, and
// each decision 5 s after the last, so that each is forced.
void DecisionPath(benchmark::State& state, bool externalOnly, const char* name) {
    SeedConvertibleWithExternalKeyboard(externalOnly);
    sim::SetJournalEnabled(false);
    HingeflowService service;
    service.StartDecider();
    long allocations = 0;
    {
        AllocationScope scope;
        for (auto _ : state) {
            service.OnDeviceEvent(DBT_DEVICEARRIVAL, nullptr);
            service.WaitUntilDecided();
            sim::AdvanceVirtualTime(kForceQuietTimeMs);
        }
        allocations = scope.Count();
    }
    ReportAllocations(state, name, allocations, false);
}

void BM_DecisionPath(benchmark::State& state) {
    DecisionPath(state, false, "BM_DecisionPath");
}
BENCHMARK(BM_DecisionPath)->UseRealTime();

// What the control thread itself spends on a device event: its log lines (off here), the
// record, the decider woken.
void BM_ControlHandlerPart(benchmark::State& state) {
    SeedConvertibleWithExternalKeyboard();
    sim::SetJournalEnabled(false);
    HingeflowService service;
    service.StartDecider();
    for (auto _ : state) {
        service.OnDeviceEvent(DBT_DEVICEARRIVAL, nullptr);
        state.PauseTiming();
        service.WaitUntilDecided();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ControlHandlerPart);

void BM_DecisionPathExternalOnly(benchmark::State& state) {
    DecisionPath(state, true, "BM_DecisionPathExternalOnly");
}
BENCHMARK(BM_DecisionPathExternalOnly)->UseRealTime();

void DecisionPlatformCallsOnly(benchmark::State& state, bool externalOnly, const char* name) {
    SeedConvertibleWithExternalKeyboard(externalOnly);
    sim::SetJournalEnabled(false);
    long allocations = 0;
    {
        AllocationScope scope;
        for (auto _ : state) {
            benchmark::DoNotOptimize(bare::Decision());
        }
        allocations = scope.Count();
    }
    ReportAllocations(state, name, allocations, false);
}

void BM_DecisionPlatformCallsOnly(benchmark::State& state) {
    DecisionPlatformCallsOnly(state, false, "BM_DecisionPlatformCallsOnly");
}
BENCHMARK(BM_DecisionPlatformCallsOnly);

void BM_DecisionPlatformCallsOnlyExternalOnly(benchmark::State& state) {
    DecisionPlatformCallsOnly(state, true, "BM_DecisionPlatformCallsOnlyExternalOnly");
}
BENCHMARK(BM_DecisionPlatformCallsOnlyExternalOnly);

// External only, every mouse is placed outside the machine: each costs its one more read.
void SeedMice(int interfaces, bool externalOnly = false) {
    sim::Reset();
    for (int i = 0; i < interfaces; ++i) {
        const int id = sim::AddHidMouse();
        if (externalOnly) {
            GUID container{};
            container.Data1 = static_cast<decltype(container.Data1)>(id);
            sim::PlaceInContainer(id, container);
        }
    }
    sim::SetJournalEnabled(false);
}

void BM_Census(benchmark::State& state) {
    const int interfaces = static_cast<int>(state.range(0));
    SeedMice(interfaces);
    long allocations = 0;
    std::int32_t count = 0;
    {
        AllocationScope scope;
        for (auto _ : state) {
            count = CountInputDevices(kMouseKind);
            benchmark::DoNotOptimize(count);
        }
        allocations = scope.Count();
    }
    if (count != interfaces) {
        state.SkipWithError("census miscounted");
    }
    state.SetComplexityN(interfaces);
    ReportAllocations(state, "BM_Census/" + std::to_string(interfaces), allocations, true);
}
BENCHMARK(BM_Census)->RangeMultiplier(10)->Range(1, 1000)->Complexity(benchmark::oN);

void BM_CensusExternalOnly(benchmark::State& state) {
    const int interfaces = static_cast<int>(state.range(0));
    SeedMice(interfaces, true);
    long allocations = 0;
    std::int32_t count = 0;
    {
        AllocationScope scope;
        for (auto _ : state) {
            count = CountInputDevices(kMouseKind, CensusScope::ExternalOnly);
            benchmark::DoNotOptimize(count);
        }
        allocations = scope.Count();
    }
    if (count != interfaces) {
        state.SkipWithError("census miscounted");
    }
    ReportAllocations(state, "BM_CensusExternalOnly/" + std::to_string(interfaces), allocations,
                      true);
}
BENCHMARK(BM_CensusExternalOnly)->RangeMultiplier(10)->Range(1, 1000);

void BM_CensusPlatformCallsOnly(benchmark::State& state) {
    const int interfaces = static_cast<int>(state.range(0));
    SeedMice(interfaces);
    long allocations = 0;
    {
        AllocationScope scope;
        for (auto _ : state) {
            benchmark::DoNotOptimize(bare::Census(interface_class::kMouse, bare::kMouseText));
        }
        allocations = scope.Count();
    }
    state.SetComplexityN(interfaces);
    ReportAllocations(state, "BM_CensusPlatformCallsOnly/" + std::to_string(interfaces),
                      allocations, false);
}
BENCHMARK(BM_CensusPlatformCallsOnly)
    ->RangeMultiplier(10)
    ->Range(1, 1000)
    ->Complexity(benchmark::oN);

// What "one test of a flag" costs behind a call that cannot be inlined; volatile, so the
// compiler cannot drop the call as it could see that the flag never changes.
volatile bool g_flag = false;
__attribute__((noinline)) void FlagTestOnly(const char* format, ...) {
    if (!g_flag) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void BM_LogVerboseOff(benchmark::State& state) {
    sim::Reset();
    InitLog();
    long allocations = 0;
    {
        AllocationScope scope;
        for (auto _ : state) {
            LogVerbose("mouse number: %d, keyboard number: %d", 1, 2);
        }
        allocations = scope.Count();
    }
    const int opens = sim::CountCalls("CreateFileA");
    state.counters["file opens/iter"] =
        benchmark::Counter(opens, benchmark::Counter::kAvgIterations);
    if (g_logEnabled || opens != 0) {
        g_violations.push_back("BM_LogVerboseOff: logging off still reached the log file");
    }
    ReportAllocations(state, "BM_LogVerboseOff", allocations, true);
}
BENCHMARK(BM_LogVerboseOff);

void BM_FlagTestOnly(benchmark::State& state) {
    for (auto _ : state) {
        FlagTestOnly("mouse number: %d, keyboard number: %d", 1, 2);
    }
}
BENCHMARK(BM_FlagTestOnly);

std::string TempLogPath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/hingeflow-bench-" +
           std::to_string(getpid()) + ".log";
}

void BM_LogVerboseOn(benchmark::State& state) {
    const std::string path = TempLogPath();
    sim::Reset();
    sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kLogPathValue, path);
    sim::SetJournalEnabled(false);
    InitLog();
    if (!g_logEnabled) {
        state.SkipWithError("log did not open");
        return;
    }
    for (auto _ : state) {
        LogVerbose("mouse number: %d, keyboard number: %d", 1, 2);
    }
    g_logEnabled = false;
    std::remove(path.c_str());
}
BENCHMARK(BM_LogVerboseOn);

// One line appended by hand: the timestamp, the formatting, open, write and close, as the log
// does them, with nothing around them.
void BM_AppendLineOnly(benchmark::State& state) {
    const std::string path = TempLogPath();
    for (auto _ : state) {
        char timestamp[80];
        const std::time_t now = std::time(nullptr);
        std::strftime(timestamp, sizeof timestamp, "%Y-%m-%d.%X", std::localtime(&now));
        char message[2048];
        std::snprintf(message, sizeof message, "mouse number: %d, keyboard number: %d", 1, 2);
        std::FILE* file = std::fopen(path.c_str(), "a");
        std::fprintf(file, "%s%s%s\n", timestamp, " Verbose: ", message);
        std::fclose(file);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_AppendLineOnly);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    for (const Policy policy : {Policy::Absent, Policy::Values}) {
        if (!BaselineMatchesDecision(false, policy) || !BaselineMatchesDecision(true, policy)) {
            return 2;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const std::string& violation : g_violations) {
        std::fprintf(stderr, "FAIL %s\n", violation.c_str());
    }
    return g_violations.empty() ? 0 : 1;
}
