// Simulator face only: the control API through which tests seed state, inject faults, read the
// journal of platform calls and count open handles. Each area adds its own controls in
// <area>_control.h beside this file.
#pragma once

#include "platform/sim/types.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Clears every area (registry, devices, services, console, ...), the journal, the fault rules,
// the handle counts, virtual time and the hooks. Call at the start of every test.
void Reset();

// --- Faults -------------------------------------------------------------------------------
// A rule makes the Nth matching call, counted from when the rule is set (1 = the next one),
// fail with `code`. kRepresentativeFault lets each operation pick its own typical code.
constexpr DWORD kRepresentativeFault = 0xFFFFFFFFu;
void FailCall(const char* op, int nth, DWORD code = kRepresentativeFault, bool persistent = false);
// The Nth faultable call of any operation: the self-discovering sweep's tool.
void FailAnyCall(int nth, DWORD code = kRepresentativeFault);
void ClearFaults();
// How many injected faults have fired since Reset.
int FaultsFired();

// --- Journal ------------------------------------------------------------------------------
struct Call {
    std::string op;   // Win32 name, e.g. "RegSetValueExA"
    std::string args; // the arguments as the operation chose to render them
    bool faultable;   // counted by FailAnyCall
};
std::vector<Call> Journal();
std::vector<std::string> CallsTo(const std::string& op); // args of each call to op, in order
int CountCalls(const std::string& op);
int FaultableCallCount();
void ClearJournal();
// While off, calls are neither recorded nor formatted, so a call allocates nothing.
void SetJournalEnabled(bool enabled);

// --- Handles ------------------------------------------------------------------------------
enum class HandleKind {
    RegistryKey,
    DeviceInfoSet,
    ScmHandle,
    DeviceNotification,
    EventSource,
    KernelObject,      // files, log streams, tokens and events
    LocalMemory,       // security descriptors GetSecurityInfo handed out
    PowerNotification, // power setting registrations
};
int OpenHandleCount();
int OpenHandleCount(HandleKind kind);

// --- Time ---------------------------------------------------------------------------------
// Sleep never waits: it advances virtual time and calls the hook (outside any lock) with the
// requested milliseconds and the 1-based number of this Sleep since Reset.
std::uint64_t VirtualTimeMs();
void SetSleepHook(std::function<void(DWORD milliseconds, int sleepNumber)> hook);
// Time passing while the test itself does nothing, as GetTickCount64 then sees it.
void AdvanceVirtualTime(std::uint64_t milliseconds);
// A wait on events with a finite timeout never waits either: when none is signalled it advances
// virtual time by the timeout, calls this hook (outside any lock, on the waiting thread) with the
// timeout, the 1-based number of this timed wait since Reset and the handles waited on, then
// looks again. So the hook is where a test changes the world, or signals an event, "during" the
// wait. A wait with INFINITE blocks for real until an event is signalled.
using TimedWaitHook =
    std::function<void(DWORD milliseconds, int waitNumber, const std::vector<HANDLE>& handles)>;
void SetTimedWaitHook(TimedWaitHook hook);

} // namespace sim
