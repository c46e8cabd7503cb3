#include "support/TestMainLoop.h"

namespace brindle::test {

void TestMainLoop::post(Task task) {
    std::lock_guard<std::mutex> guard(mutex_);
    tasks_.push_back(std::move(task));
}

MainLoop::TimerId TestMainLoop::after(double seconds, Task task) { return addTimer(seconds, 0, std::move(task)); }

MainLoop::TimerId TestMainLoop::every(double seconds, Task task) { return addTimer(seconds, seconds, std::move(task)); }

MainLoop::TimerId TestMainLoop::addTimer(double seconds, double period, Task task) {
    std::lock_guard<std::mutex> guard(mutex_);
    TimerId id = nextId_++;
    timers_[id] = Timer{now_ + seconds, period, std::move(task)};
    return id;
}

void TestMainLoop::cancel(TimerId timer) {
    std::lock_guard<std::mutex> guard(mutex_);
    timers_.erase(timer);
}

double TestMainLoop::now() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return now_;
}

size_t TestMainLoop::pendingTimers() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return timers_.size();
}

void TestMainLoop::drain() {
    while (true) {
        std::vector<Task> batch;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            batch.swap(tasks_);
        }
        if (batch.empty()) return;
        for (auto& task : batch) task();
    }
}

void TestMainLoop::advance(double seconds) {
    double target;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        target = now_ + seconds;
    }
    drain();
    while (true) {
        Task task;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            auto earliest = timers_.end();
            for (auto it = timers_.begin(); it != timers_.end(); ++it)
                if (earliest == timers_.end() || it->second.due < earliest->second.due) earliest = it;
            if (earliest == timers_.end() || earliest->second.due > target) {
                now_ = target;
                break;
            }
            now_ = std::max(now_, earliest->second.due);
            task = earliest->second.task;
            if (earliest->second.period > 0) earliest->second.due += earliest->second.period;
            else timers_.erase(earliest);
        }
        task();
        drain();
    }
    drain();
}

}  // namespace brindle::test
