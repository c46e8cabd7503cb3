#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace brindle {

// Blocking work started from the menu (service calls, registration, imports,
// sharing), each task on a thread of its own so that a slow one never holds
// up another. Tasks must hop back to the main loop for anything the user
// sees. The destructor waits for the tasks still running.
class BackgroundWork {
public:
    using Task = std::function<void()>;

    BackgroundWork() = default;
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Starts task at once; an exception it throws is dropped. Any thread.
    void run(Task task);
    // Blocks until no task is running. Any thread but a task's own.
    void waitUntilIdle();
    // true when no task is running.
    bool idle();

private:
    std::mutex mutex_;  // guards running_
    std::condition_variable done_;
    int running_ = 0;
};

}  // namespace brindle
