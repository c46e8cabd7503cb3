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

    // Runs posted tasks until none is left.
    void drain();
    // Moves the clock forward by seconds, running every timer that falls due
    // (in order of due time) and the tasks they post.
    void advance(double seconds);
    size_t pendingTimers() const;

private:
    struct Timer {
        double due = 0, period = 0;
        Task task;
    };
    TimerId addTimer(double seconds, double period, Task task);
    // Takes the earliest timer due by target off the list (or puts it back
    // one period later); moves the clock to it. Nothing when none is due.
    Task takeDue(double target);

    mutable std::mutex mutex_;  // guards everything below
    double now_ = 1000.0;
    std::vector<Task> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
};

}  // namespace brindle::test
