#include "support/TestMainLoop.h"

#include <algorithm>

namespace brindle::test {

void TestMainLoop::post(Task task) {
    std::lock_guard<std::mutex> guard(mutex_);
    tasks_.push_back(std::move(task));
}

MainLoop::TimerId TestMainLoop::addTimer(double seconds, double period, Task task) {
    std::lock_guard<std::mutex> guard(mutex_);
    timers_[nextId_] = Timer{now_ + seconds, period, std::move(task)};
    return nextId_++;
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
    for (std::vector<Task> batch;; batch.clear()) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            batch.swap(tasks_);
        }
        if (batch.empty()) return;
        for (auto& task : batch) task();
    }
}

MainLoop::Task TestMainLoop::takeDue(double target) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto earliest = std::min_element(timers_.begin(), timers_.end(),
                                     [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
    if (earliest == timers_.end() || earliest->second.due > target) {
        now_ = target;
        return {};
    }
    now_ = std::max(now_, earliest->second.due);
    Task task = earliest->second.task;
    earliest->second.period > 0 ? void(earliest->second.due += earliest->second.period) : void(timers_.erase(earliest));
    return task;
}

void TestMainLoop::advance(double seconds) {
    const double target = now() + seconds;
    drain();
    while (Task task = takeDue(target)) {
        task();
        drain();
    }
}

}  // namespace brindle::test
