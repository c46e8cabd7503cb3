#pragma once

#include "common/MainLoop.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

namespace brindle::test {

// A MainLoop on virtual time: nothing runs until the test advances the clock
// or drains posted tasks, so scheduling can be checked without sleeping.
// post() may be called from any thread; everything else from the test thread.
class TestMainLoop final : public MainLoop {
public:
    void post(Task task) override;
    TimerId after(double seconds, Task task) override;
    TimerId every(double seconds, Task task) override;
    void cancel(TimerId timer) override;
    double now() const override;

    // Runs posted tasks until none is left.
    void drain();
    // Moves the clock forward by seconds, running every timer that falls due
    // (in order of due time) and the tasks they post.
    void advance(double seconds);
    // Number of timers still pending.
    size_t pendingTimers() const;

private:
    struct Timer {
        double due = 0;
        double period = 0;
        Task task;
    };
    TimerId addTimer(double seconds, double period, Task task);

    mutable std::mutex mutex_;  // guards everything below
    double now_ = 1000.0;
    std::vector<Task> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
};

}  // namespace brindle::test
