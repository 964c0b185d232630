// The decider's thread, and the one decision it takes for everything posted while it settled.
#include "trigger/decider.h"

#include "config/diagnostic_log.h"
#include "trigger/presence_check.h"
#include "trigger/slate_mode.h"

#include <utility>

Decider::~Decider() {
    Stop();
}

bool Decider::Start() {
    const std::lock_guard<std::mutex> guard(lock);
    if (started || stopped) {
        return true;
    }
    // Closing one that was made keeps the error of the one that failed.
    UniqueKernelObject stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueKernelObject wake(stop ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr);
    UniqueKernelObject done(
        wake ? CreateEventW(nullptr, TRUE, posted == decided ? TRUE : FALSE, nullptr) : nullptr);
    if (!done) {
        return false;
    }
    stopEvent = std::move(stop);
    wakeEvent = std::move(wake);
    decidedEvent = std::move(done);
    try {
        thread = std::thread([this] { Run(); });
    } catch (...) {
        // The run-time says neither which Windows error it met nor whether it was memory.
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    started = true;
    if (pending.count > 0) {
        SetEvent(wakeEvent.get());
    }
    return true;
}

void Decider::Post(DecisionEvent event) {
    const std::lock_guard<std::mutex> guard(lock);
    if (stopped || ended) {
        return;
    }
    ++posted;
    ++pending.count;
    switch (event) {
    case DecisionEvent::UsbArrival:
        pending.arrival = pending.forced = pending.deviceArrival = true;
        break;
    case DecisionEvent::InputArrival:
        pending.arrival = pending.deviceArrival = true;
        break;
    case DecisionEvent::Removal:
        pending.removal = true;
        break;
    case DecisionEvent::Resume:
    case DecisionEvent::DisplayWake:
        pending.arrival = pending.forced = true;
        break;
    case DecisionEvent::Start:
        pending.arrival = pending.removal = pending.start = true;
        break;
    }
    if (started) {
        ResetEvent(decidedEvent.get());
        SetEvent(wakeEvent.get());
    }
}

void Decider::Stop() {
    // A second caller returns only once the first has joined the thread.
    const std::lock_guard<std::mutex> serial(stopLock);
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (stopped) {
            return;
        }
        stopped = true;
        if (started) {
            SetEvent(stopEvent.get());
        }
    }
    if (thread.joinable()) {
        thread.join();
    }
    std::uint64_t dropped = 0;
    {
        const std::lock_guard<std::mutex> guard(lock);
        dropped = posted - decided;
        decided = posted;
        pending = Pending{};
        if (decidedEvent) {
            SetEvent(decidedEvent.get());
        }
    }
    if (dropped > 0) {
        LogVerbose("events dropped at stop: %u", static_cast<unsigned>(dropped));
    }
}

bool Decider::WaitUntilDecided(DWORD timeoutMs) {
    HANDLE done = nullptr;
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (!decidedEvent) {
            return posted == decided;
        }
        done = decidedEvent.get();
    }
    return WaitForSingleObject(done, timeoutMs) == WAIT_OBJECT_0;
}

bool Decider::Stopping() const {
    return WaitForSingleObject(stopEvent.get(), 0) == WAIT_OBJECT_0;
}

void Decider::Run() noexcept {
    try {
        const HANDLE waits[] = {stopEvent.get(), wakeEvent.get()};
        constexpr DWORD kWoken = WAIT_OBJECT_0 + 1;
        for (;;) {
            // Idle: blocked until an event is posted or the service stops, with no timer.
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != kWoken) {
                return;
            }
            // Settled once no event has come for the settle time; each one starts it again.
            const ULONGLONG burstStart = GetTickCount64();
            DWORD woken = kWoken;
            while (woken == kWoken && GetTickCount64() - burstStart < kLongestSettleMs) {
                woken = WaitForMultipleObjects(2, waits, FALSE, kSettleTimeMs);
            }
            if (woken != WAIT_TIMEOUT && woken != kWoken) {
                return;
            }
            Pending taken;
            {
                const std::lock_guard<std::mutex> guard(lock);
                taken = std::exchange(pending, Pending{});
            }
            if (taken.count == 0) {
                continue; // taken by the last decision along with the event that woke it
            }
            if (!Decide(taken)) {
                return;
            }
            const std::lock_guard<std::mutex> guard(lock);
            decided += static_cast<std::uint64_t>(taken.count);
            if (decided == posted) {
                SetEvent(decidedEvent.get());
            }
        }
    } catch (...) {
        // Nothing is decided any more: what was and will be posted counts as dropped, so that no
        // one waits for it.
        {
            const std::lock_guard<std::mutex> guard(lock);
            ended = true;
            decided = posted;
            SetEvent(decidedEvent.get());
        }
        LogError("the decider ended: out of memory");
    }
}

// As deciding each event in turn would end, on the same hardware: an arrival can only lead to
// laptop mode and a removal only to tablet mode, and the census answers the same for all.
bool Decider::Decide(const Pending& taken) {
    if (taken.count > 1) {
        LogVerbose("deciding %d events at once", taken.count);
    }
    const std::optional<bool> external = IsExternalInputAttached(stopEvent.get());
    if (!external) {
        return false;
    }
    const bool laptop = *external && taken.arrival;
    const bool tablet = !*external && taken.removal;
    if (!laptop && !tablet) {
        return true;
    }
    if (Stopping()) {
        return false;
    }
    SlateModeSwitch done;
    if (laptop) {
        const ULONGLONG since = lastToggleTick ? GetTickCount64() - *lastToggleTick : 0;
        const bool heldBack = taken.forced && lastToggleTick && since < kForceQuietTimeMs;
        const int written = SetTabletMode(1, taken.forced && !heldBack, done) ? 1 : 0;
        if (heldBack && written == 1 && !done.changed) {
            LogVerbose("no pass through 10: the value toggled %u ms ago",
                       static_cast<unsigned>(since));
        }
        if (taken.start) {
            LogVerbose("start decision: exit tablet mode: %d", written);
        } else if (taken.deviceArrival) {
            LogVerbose("exit tablet mode: %d", written);
        } else {
            LogVerbose("resume and exit tablet mode: %d", written);
        }
    } else {
        const int written = SetTabletMode(0, false, done) ? 1 : 0;
        if (taken.start) {
            LogVerbose("start decision: enter tablet mode: %d", written);
        } else {
            LogVerbose("enter tablet mode: %d", written);
        }
    }
    if (done.throughTemporaryValue || done.changed) {
        lastToggleTick = GetTickCount64();
    }
    return true;
}
