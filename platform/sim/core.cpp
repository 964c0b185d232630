// Simulator face only: the journal, the fault rules, handle counts, per-thread last error and
// virtual time that every simulated area shares.
#include "platform/sim/core.h"

#include "platform/process.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace sim {
namespace {

struct FaultRule {
    std::string op; // empty: any faultable operation
    int countdown;
    DWORD code;
    bool persistent;
};

constexpr int kHandleKinds = 8;

// Built on first use, never at static initialisation: the executable's log start-up reads the
// registry before main and must find the simulator ready whatever the initialisation order.
struct State {
    std::vector<Call> journal;
    bool journalEnabled = true;
    std::vector<FaultRule> rules;
    int faultsFired = 0;
    std::array<int, kHandleKinds> openHandles{};
    std::uint64_t virtualTimeMs = 0;
    int sleepCount = 0;
    std::function<void(DWORD, int)> sleepHook;
};

State& TheState() {
    static State* state = new State(); // never destroyed: other threads may outlive main
    return *state;
}

thread_local DWORD tlsLastError = 0;

} // namespace

namespace core {

std::recursive_mutex& Mutex() {
    static std::recursive_mutex* mutex = new std::recursive_mutex();
    return *mutex;
}

DWORD Enter(const char* op, DWORD representativeFault, const char* argsFormat, ...) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State& s = TheState();
    const bool faultable = representativeFault != 0;
    if (s.journalEnabled) {
        char args[512];
        va_list list;
        va_start(list, argsFormat);
        std::vsnprintf(args, sizeof args, argsFormat, list);
        va_end(list);
        s.journal.push_back(Call{op, args, faultable});
    }
    DWORD result = 0;
    for (std::size_t i = 0; i < s.rules.size();) {
        FaultRule& rule = s.rules[i];
        const bool matches = rule.op.empty() ? faultable : rule.op == op;
        if (matches && result == 0 && --rule.countdown <= 0) {
            DWORD code = rule.code;
            if (code == kRepresentativeFault) {
                code = faultable ? representativeFault : static_cast<DWORD>(ERROR_ACCESS_DENIED);
            }
            result = code;
            ++s.faultsFired;
            if (!rule.persistent) {
                s.rules.erase(s.rules.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
        }
        ++i;
    }
    return result;
}

void HandleOpened(HandleKind kind) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    ++TheState().openHandles[static_cast<std::size_t>(kind)];
}

void HandleClosed(HandleKind kind) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    --TheState().openHandles[static_cast<std::size_t>(kind)];
}

std::string Narrow(const WCHAR* text) {
    if (text == nullptr) {
        return "(null)";
    }
    std::string out;
    for (; *text != 0; ++text) {
        const auto unit = static_cast<std::uint32_t>(*text);
        if (unit >= 0x20 && unit < 0x7f) {
            out.push_back(static_cast<char>(unit));
        } else {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\x{%x}", unit);
            out += escaped;
        }
    }
    return out;
}

} // namespace core

void Reset() {
    {
        std::lock_guard<std::recursive_mutex> lock(core::Mutex());
        State& s = TheState();
        s.journal.clear();
        s.journalEnabled = true;
        s.rules.clear();
        s.faultsFired = 0;
        s.openHandles.fill(0);
        s.virtualTimeMs = 0;
        s.sleepCount = 0;
        s.sleepHook = nullptr;
    }
    core::ResetRegistry();
    core::ResetSetupApi();
    core::ResetServiceRuntime();
    core::ResetScmDatabase();
    core::ResetConsole();
    core::ResetFileSystem();
    core::ResetProcess();
    core::ResetSynchronization();
    tlsLastError = 0;
}

void FailCall(const char* op, int nth, DWORD code, bool persistent) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().rules.push_back(FaultRule{op, nth, code, persistent});
}

void FailAnyCall(int nth, DWORD code) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().rules.push_back(FaultRule{std::string(), nth, code, false});
}

void ClearFaults() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().rules.clear();
}

int FaultsFired() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return TheState().faultsFired;
}

std::vector<Call> Journal() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return TheState().journal;
}

std::vector<std::string> CallsTo(const std::string& op) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    std::vector<std::string> args;
    for (const Call& call : TheState().journal) {
        if (call.op == op) {
            args.push_back(call.args);
        }
    }
    return args;
}

int CountCalls(const std::string& op) {
    return static_cast<int>(CallsTo(op).size());
}

int FaultableCallCount() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    int count = 0;
    for (const Call& call : TheState().journal) {
        count += call.faultable ? 1 : 0;
    }
    return count;
}

void ClearJournal() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().journal.clear();
}

void SetJournalEnabled(bool enabled) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().journalEnabled = enabled;
}

int OpenHandleCount() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    int total = 0;
    for (int count : TheState().openHandles) {
        total += count;
    }
    return total;
}

int OpenHandleCount(HandleKind kind) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return TheState().openHandles[static_cast<std::size_t>(kind)];
}

std::uint64_t VirtualTimeMs() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return TheState().virtualTimeMs;
}

void AdvanceVirtualTime(std::uint64_t milliseconds) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().virtualTimeMs += milliseconds;
}

void SetSleepHook(std::function<void(DWORD, int)> hook) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().sleepHook = std::move(hook);
}

} // namespace sim

DWORD GetLastError() {
    return sim::tlsLastError;
}

void SetLastError(DWORD dwErrCode) {
    sim::tlsLastError = dwErrCode;
}

void Sleep(DWORD dwMilliseconds) {
    sim::core::Enter("Sleep", 0, "%u", static_cast<unsigned>(dwMilliseconds));
    std::function<void(DWORD, int)> hook;
    int number = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
        sim::State& s = sim::TheState();
        s.virtualTimeMs += dwMilliseconds;
        number = ++s.sleepCount;
        hook = s.sleepHook;
    }
    if (hook) {
        hook(dwMilliseconds, number);
    }
}
