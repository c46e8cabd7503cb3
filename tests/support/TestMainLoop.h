#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "common/MainLoop.h"

namespace brindle::test {

// A MainLoop on virtual time: nothing runs until the test advances the clock
// or drains posted tasks, so scheduling can be checked without sleeping.
// post() may be called from any thread; everything else from the test thread.
class TestMainLoop final : public MainLoop {
public:
    void post(Task task) override;
    TimerId after(double seconds, Task task) override { return addTimer(seconds, 0, std::move(task)); }
    TimerId every(double seconds, Task task) override { return addTimer(seconds, seconds, std::move(task)); }
    void cancel(TimerId timer) override;
    double now() const override;

    void drain();  // runs posted tasks until none is left
    // Moves the clock forward, running the timers that fall due (in order) and what they post.
    void advance(double seconds);
    size_t pendingTimers() const;

private:
    struct Timer {
        double due = 0, period = 0;
        Task task;
    };
    TimerId addTimer(double seconds, double period, Task task);
    // The earliest timer due by target (a repeating one stays, a period later); the clock moves to it.
    Task takeDue(double target);

    mutable std::mutex mutex_;  // guards everything below
    double now_ = 1000.0;
    std::vector<Task> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
};

}  // namespace brindle::test
