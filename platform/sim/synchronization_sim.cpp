// Simulator face only: events, waits and the tick count, in the simulator's virtual time. A wait
// that would time out returns at once, time advanced by its timeout, so a test never waits out a
// pause; a wait without a timeout blocks for real until an event is signalled. Auto-reset and
// manual-reset events behave as Windows documents them; a wait on several returns the lowest
// index that is signalled.
#include "platform/process.h"
#include "platform/sim/control.h"
#include "platform/sim/core.h"
#include "platform/synchronization.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

// Far above the files' handles, which count up from their own base.
constexpr std::uintptr_t kFirstEvent = 0x10000000;
constexpr std::uintptr_t kHandleStep = 4;

struct Event {
    bool manualReset = false;
    bool signalled = false;
};

struct State {
    std::map<std::uintptr_t, Event> events;
    std::uintptr_t nextEvent = kFirstEvent;
    int timedWaits = 0;
    sim::TimedWaitHook timedWaitHook;
};

State& TheState() {
    static State* state = new State(); // never destroyed: see core.cpp
    return *state;
}

std::condition_variable_any& Signalled() {
    static std::condition_variable_any* signalled = new std::condition_variable_any();
    return *signalled;
}

using Lock = std::unique_lock<std::recursive_mutex>;

Event* Find(HANDLE handle) {
    const auto found = TheState().events.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == TheState().events.end() ? nullptr : &found->second;
}

template <typename Result> Result Fail(DWORD code, Result result) {
    SetLastError(code);
    return result;
}

// Events by their number since Reset ("event 2"), anything else as "(invalid)".
std::string Describe(DWORD count, const HANDLE* handles) {
    Lock lock(sim::core::Mutex());
    std::string text;
    for (DWORD i = 0; handles != nullptr && i < count && i < MAXIMUM_WAIT_OBJECTS; ++i) {
        text += i == 0 ? "" : " ";
        text += Find(handles[i]) == nullptr
                    ? "(invalid)"
                    : "event " + std::to_string(
                                     (reinterpret_cast<std::uintptr_t>(handles[i]) - kFirstEvent) /
                                     kHandleStep);
    }
    return text;
}

// The index a wait returns now, consuming what it takes from auto-reset events; none when the
// wait is not satisfied yet. Called under the lock.
bool TrySatisfy(const std::vector<Event*>& events, bool all, DWORD& index) {
    if (all) {
        for (const Event* event : events) {
            if (!event->signalled) {
                return false;
            }
        }
        for (Event* event : events) {
            event->signalled = event->manualReset;
        }
        index = 0;
        return true;
    }
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i]->signalled) {
            events[i]->signalled = events[i]->manualReset;
            index = static_cast<DWORD>(i);
            return true;
        }
    }
    return false;
}

DWORD Wait(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
    Lock lock(sim::core::Mutex());
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    }
    // Looked up again after every unlocked stretch: a handle closed meanwhile fails the wait.
    const auto lookUp = [&](std::vector<Event*>& events) {
        events.clear();
        for (DWORD i = 0; i < nCount; ++i) {
            Event* event = Find(lpHandles[i]);
            if (event == nullptr) {
                return false;
            }
            events.push_back(event);
        }
        return true;
    };
    std::vector<Event*> events;
    if (!lookUp(events)) {
        return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    if (bWaitAll) {
        for (DWORD i = 0; i < nCount; ++i) {
            for (DWORD j = i + 1; j < nCount; ++j) {
                if (lpHandles[i] == lpHandles[j]) {
                    return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
                }
            }
        }
    }
    DWORD index = 0;
    if (TrySatisfy(events, bWaitAll != FALSE, index)) {
        return WAIT_OBJECT_0 + index;
    }
    if (dwMilliseconds == 0) {
        return WAIT_TIMEOUT;
    }
    if (dwMilliseconds == INFINITE) {
        bool valid = true;
        Signalled().wait(lock, [&] {
            valid = lookUp(events);
            return !valid || TrySatisfy(events, bWaitAll != FALSE, index);
        });
        return valid ? WAIT_OBJECT_0 + index : Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    State& s = TheState();
    const int number = ++s.timedWaits;
    const sim::TimedWaitHook hook = s.timedWaitHook;
    lock.unlock();
    sim::AdvanceVirtualTime(dwMilliseconds);
    if (hook) {
        hook(dwMilliseconds, number, std::vector<HANDLE>(lpHandles, lpHandles + nCount));
    }
    lock.lock();
    if (!lookUp(events)) {
        return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    return TrySatisfy(events, bWaitAll != FALSE, index) ? WAIT_OBJECT_0 + index : WAIT_TIMEOUT;
}

} // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName) {
    if (const DWORD fault =
            sim::core::Enter("CreateEventW", ERROR_NOT_ENOUGH_MEMORY, "%s, %d, %d, %s",
                             lpEventAttributes == nullptr ? "(null)" : "attributes", bManualReset,
                             bInitialState, sim::core::Narrow(lpName).c_str())) {
        return Fail(fault, HANDLE{});
    }
    // Named events are shared between processes; the simulation has one process.
    if (lpName != nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, HANDLE{});
    }
    Lock lock(sim::core::Mutex());
    State& s = TheState();
    const std::uintptr_t handle = s.nextEvent;
    s.nextEvent += kHandleStep;
    s.events[handle] = Event{bManualReset != FALSE, bInitialState != FALSE};
    sim::core::HandleOpened(sim::HandleKind::KernelObject);
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(handle);
}

BOOL SetEvent(HANDLE hEvent) {
    sim::core::Enter("SetEvent", 0, "%s", Describe(1, &hEvent).c_str());
    Lock lock(sim::core::Mutex());
    Event* event = Find(hEvent);
    if (event == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    event->signalled = true;
    Signalled().notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    sim::core::Enter("ResetEvent", 0, "%s", Describe(1, &hEvent).c_str());
    Lock lock(sim::core::Mutex());
    Event* event = Find(hEvent);
    if (event == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    event->signalled = false;
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    sim::core::Enter("WaitForMultipleObjects", 0, "%u, {%s}, %d, %u", nCount,
                     Describe(nCount, lpHandles).c_str(), bWaitAll, dwMilliseconds);
    return Wait(nCount, lpHandles, bWaitAll, dwMilliseconds);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    sim::core::Enter("WaitForSingleObject", 0, "%s, %u", Describe(1, &hHandle).c_str(),
                     dwMilliseconds);
    return Wait(1, &hHandle, FALSE, dwMilliseconds);
}

ULONGLONG GetTickCount64() {
    sim::core::Enter("GetTickCount64", 0, "%s", "");
    return sim::VirtualTimeMs();
}

namespace sim {

void SetTimedWaitHook(TimedWaitHook hook) {
    Lock lock(core::Mutex());
    TheState().timedWaitHook = std::move(hook);
}

namespace core {

bool IsEvent(HANDLE handle) {
    Lock lock(Mutex());
    return Find(handle) != nullptr;
}

BOOL CloseEvent(HANDLE handle) {
    Enter("CloseHandle", 0, "event %s", Describe(1, &handle).c_str());
    Lock lock(Mutex());
    if (TheState().events.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    HandleClosed(HandleKind::KernelObject);
    // A wait on it now fails rather than waits for ever.
    Signalled().notify_all();
    return TRUE;
}

void ResetSynchronization() {
    Lock lock(Mutex());
    TheState() = State{};
    Signalled().notify_all();
}

} // namespace core
} // namespace sim
