#include "platform/WakeObserver.h"

#include <ctime>

namespace brindle {

namespace {

double seconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

double WakeObserver::suspendedSeconds() {
    double boot = seconds(CLOCK_BOOTTIME);
    double monotonic = seconds(CLOCK_MONOTONIC);
    return boot - monotonic;
}

WakeObserver::WakeObserver(MainLoop& mainLoop, Handler handler, double checkSeconds, SuspendedClock clock)
    : mainLoop_(mainLoop), handler_(std::move(handler)), clock_(clock ? std::move(clock) : suspendedSeconds) {
    lastSuspended_ = clock_();
    // The timer is cancelled in the destructor, on the same thread, so it
    // never runs after the observer is gone.
    timer_ = mainLoop_.every(checkSeconds, [this] { check(); });
}

WakeObserver::~WakeObserver() { mainLoop_.cancel(timer_); }

void WakeObserver::check() {
    double suspended = clock_();
    bool woke = suspended - lastSuspended_ >= kMinimumSleep;
    lastSuspended_ = suspended;
    if (woke && handler_) handler_();
}

}  // namespace brindle
