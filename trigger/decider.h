// The decider: one thread that switches the slate mode once the hardware has settled. The
// control handler only records what an event asks for and wakes it, so that no census, registry
// round trip or pause ever holds the thread through which the SCM delivers every control.
#pragma once

#include "platform/unique_handle.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

// A dock brings its devices over seconds, and a USB keyboard its interfaces within milliseconds
// of each other: events closer than this are decided together. Microsoft asks for the indicator
// to follow a new stable state within 200 ms, the census included.
constexpr DWORD kSettleTimeMs = 100;
// A device that never falls quiet (a loose connector, a driver in a reset loop) must not put off
// every decision: a burst is decided this long after its first event at the latest, and what
// follows is decided with the next one.
constexpr ULONGLONG kLongestSettleMs = 2000;
// A forced switch passes through 10 only when no switch of this service passed through 10, or
// changed the value, this long before: one docking, however many devices it brings, toggles
// Windows' mode once, and a memory stick plugged in minutes later still re-asserts laptop mode.
constexpr ULONGLONG kForceQuietTimeMs = 5000;

// What an event asks the decider for.
enum class DecisionEvent {
    UsbArrival,   // laptop mode with external input, forced
    InputArrival, // a keyboard or mouse interface: laptop mode with external input, not forced
    Removal,      // tablet mode without external input
    Resume,       // automatic resume from sleep: as a USB arrival
    DisplayWake,  // the screen back on from Modern Standby: as a resume
    Start,        // the service has started: as a removal followed by an input arrival
};

class Decider {
public:
    Decider() = default;
    ~Decider();
    Decider(const Decider&) = delete;
    Decider& operator=(const Decider&) = delete;
    Decider(Decider&&) = delete;
    Decider& operator=(Decider&&) = delete;

    // Creates the events and the thread. False, with the Windows error in GetLastError, when
    // either cannot be made; true also once stopped, when nothing is started any more.
    bool Start();
    // Records the event and wakes the decider; returns at once. Dropped after a stop.
    void Post(DecisionEvent event);
    // Ends every wait of the decider at once and joins it; what was posted and not decided is
    // dropped, with one log line giving the count. Final: the decider never starts again.
    void Stop();
    // Waits until every event posted so far has been decided or dropped.
    bool WaitUntilDecided(DWORD timeoutMs);

private:
    // What the events posted since the last decision ask for, merged.
    struct Pending {
        int count = 0;
        bool arrival = false; // any arrival, resume, wake or start
        bool removal = false; // any removal or start
        bool forced = false;  // a USB arrival, resume or wake
        bool deviceArrival = false;
        bool start = false;
    };

    void Run() noexcept;
    // False when a stop overtook the decision, which then wrote nothing.
    bool Decide(const Pending& taken);
    bool Stopping() const;

    std::mutex stopLock; // held through a whole Stop
    std::mutex lock;
    Pending pending;                 // guarded by lock
    std::uint64_t posted = 0;        // guarded by lock
    std::uint64_t decided = 0;       // guarded by lock: decided or dropped
    bool started = false;            // guarded by lock
    bool stopped = false;            // guarded by lock
    bool ended = false;              // guarded by lock: the thread ended without a stop
    UniqueKernelObject stopEvent;    // manual reset: every wait ends on it
    UniqueKernelObject wakeEvent;    // auto reset: an event was posted
    UniqueKernelObject decidedEvent; // manual reset: set while nothing posted waits
    std::thread thread;
    // The decider thread's own: when a switch last passed through 10 or changed the value.
    std::optional<ULONGLONG> lastToggleTick;
};
