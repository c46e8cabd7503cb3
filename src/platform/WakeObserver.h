#pragma once

#include "common/MainLoop.h"

#include <functional>
#include <memory>

namespace brindle {

// Notices the computer waking from sleep: CLOCK_BOOTTIME keeps counting while
// suspended and CLOCK_MONOTONIC does not, so a jump in their difference between
// two checks is time spent asleep. Checks every few seconds on the main loop
// and calls the handler there. Create and destroy it on the main loop's
// thread; destroying it stops the checks.
class WakeObserver {
public:
    using Handler = std::function<void()>;
    // Seconds spent suspended so far (boot time minus monotonic time).
    using SuspendedClock = std::function<double()>;

    WakeObserver(MainLoop& mainLoop, Handler handler, double checkSeconds = 5.0, SuspendedClock clock = {});
    ~WakeObserver();
    WakeObserver(const WakeObserver&) = delete;
    WakeObserver& operator=(const WakeObserver&) = delete;

    // A suspension shorter than this is clock noise, not sleep.
    static constexpr double kMinimumSleep = 2.0;

    static double suspendedSeconds();

private:
    void check();

    MainLoop& mainLoop_;
    Handler handler_;
    SuspendedClock clock_;
    double lastSuspended_ = 0;
    MainLoop::TimerId timer_ = 0;
};

}  // namespace brindle
