#include "common/RunLoop.h"

#include <chrono>

namespace brindle {

void RunLoop::post(Task task) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

MainLoop::TimerId RunLoop::after(double seconds, Task task) { return addTimer(seconds, 0, std::move(task)); }

MainLoop::TimerId RunLoop::every(double seconds, Task task) { return addTimer(seconds, seconds, std::move(task)); }

MainLoop::TimerId RunLoop::addTimer(double seconds, double period, Task task) {
    TimerId id;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        id = nextId_++;
        timers_[id] = Timer{now() + seconds, period, std::move(task)};
    }
    wake_.notify_all();
    return id;
}

void RunLoop::cancel(TimerId timer) {
    std::lock_guard<std::mutex> guard(mutex_);
    timers_.erase(timer);
}

double RunLoop::now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void RunLoop::quit() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        quitting_ = true;
    }
    wake_.notify_all();
}

void RunLoop::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    quitting_ = false;
    while (!quitting_) {
        if (!tasks_.empty()) {
            std::vector<Task> batch;
            batch.swap(tasks_);
            lock.unlock();
            for (auto& task : batch) task();
            lock.lock();
            continue;
        }
        // The earliest due timer, if any.
        auto earliest = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (earliest == timers_.end() || it->second.due < earliest->second.due) earliest = it;
        if (earliest == timers_.end()) {
            wake_.wait(lock);
            continue;
        }
        double wait = earliest->second.due - now();
        if (wait > 0) {
            wake_.wait_for(lock, std::chrono::duration<double>(wait));
            continue;
        }
        Task task = earliest->second.task;
        if (earliest->second.period > 0) earliest->second.due = now() + earliest->second.period;
        else timers_.erase(earliest);
        lock.unlock();
        task();
        lock.lock();
    }
}

}  // namespace brindle
