#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace brindle {

// One worker thread that runs tasks in the order they were queued
// ("larder.sync", "larder.integrations"). Tasks must not throw; an exception
// that escapes one is caught and dropped so the queue keeps serving. The
// destructor runs the tasks already queued, then joins the thread.
class SerialQueue {
public:
    using Task = std::function<void()>;

    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues task and returns at once. Any thread.
    void async(Task task);
    // Queues task and waits until it has run, rethrowing what it threw.
    // Must not be called from the queue's own thread.
    void sync(Task task);
    // true on the queue's own thread.
    bool isCurrent() const;
    const std::string& label() const { return label_; }

private:
    void serve();

    std::string label_;
    std::mutex mutex_;  // guards tasks_ and stopping_
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace brindle
