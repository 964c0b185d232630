// Simulator face only: internals that every simulated area shares. Not for tests.
#pragma once

#include "platform/sim/control.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim::core {

// One lock over all simulated state. Recursive, so a hook run under it may call back in; an
// area must still release it before calling service code that can block on another thread.
std::recursive_mutex& Mutex();

// The choke point every simulated operation passes through first: records the call in the
// journal and consults the fault rules. `representativeFault` is the code this operation
// fails with in a sweep; 0 marks an operation that is never failed by FailAnyCall.
// Returns 0 to go ahead, or the Win32 error code the operation must fail with.
DWORD Enter(const char* op, DWORD representativeFault, const char* argsFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

void HandleOpened(HandleKind kind);
void HandleClosed(HandleKind kind);

// Renders a wide string for the journal (non-ASCII as \x{...}); null prints as (null).
std::string Narrow(const WCHAR* text);

// "S-1-5-32-545" as a SID's bytes; nullopt for text that is no SID.
std::optional<std::vector<BYTE>> ParseSid(const std::string& text);
// Hands `bytes` out as LocalAlloc'ed memory, which LocalFree takes back.
void* HoldLocalMemory(std::vector<BYTE> bytes);

// Each area clears its own state; Reset calls them all.
void ResetRegistry();
void ResetSetupApi();
void ResetServiceRuntime();
void ResetScmDatabase();
void ResetConsole();
void ResetFileSystem();
void ResetProcess();
void ResetSynchronization();

// CloseHandle's road for an event, which the synchronization area keeps.
bool IsEvent(HANDLE handle);
BOOL CloseEvent(HANDLE handle);

} // namespace sim::core
