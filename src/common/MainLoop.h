#pragma once

#include <cstdint>
#include <functional>

namespace brindle {

// The thread that owns the menu, timers and sync requests. The tray
// application implements it over Qt's event loop, the command-line modes with
// RunLoop, and tests with a loop on virtual time. Every member may be called
// from any thread; tasks and timers always run on the loop's own thread.
class MainLoop {
public:
    using Task = std::function<void()>;
    using TimerId = uint64_t;

    virtual ~MainLoop() = default;

    // Runs task on the loop thread, after the tasks posted before it.
    virtual void post(Task task) = 0;
    // Runs task once, seconds from now, unless cancelled first.
    virtual TimerId after(double seconds, Task task) = 0;
    // Runs task every seconds until cancelled; the first run is one period from now.
    virtual TimerId every(double seconds, Task task) = 0;
    // Stops a timer; unknown or finished ids are ignored.
    virtual void cancel(TimerId timer) = 0;
    // Monotonic time in seconds; only differences mean anything.
    virtual double now() const = 0;
};

}  // namespace brindle
