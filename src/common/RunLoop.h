#pragma once

#include "common/MainLoop.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace brindle {

// A MainLoop of our own for the command-line modes: run() serves tasks and
// timers on the calling thread until quit().
class RunLoop final : public MainLoop {
public:
    RunLoop() = default;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    void post(Task task) override;
    TimerId after(double seconds, Task task) override;
    TimerId every(double seconds, Task task) override;
    void cancel(TimerId timer) override;
    double now() const override;

    // Serves the loop until quit() is called (from any thread or a task).
    void run();
    void quit();

private:
    struct Timer {
        double due = 0;
        double period = 0;  // 0 for one-shot timers
        Task task;
    };
    TimerId addTimer(double seconds, double period, Task task);

    std::mutex mutex_;  // guards tasks_, timers_, nextId_, quitting_
    std::condition_variable wake_;
    std::vector<Task> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    bool quitting_ = false;
};

}  // namespace brindle
