#include "common/SerialQueue.h"

#include <future>

namespace brindle {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), worker_([this] { serve(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void SerialQueue::async(Task task) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void SerialQueue::sync(Task task) {
    std::promise<void> done;
    async([&] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }

void SerialQueue::serve() {
    while (true) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        try {
            task();
        } catch (...) {
            // A task that throws must not take the queue down with it.
        }
    }
}

}  // namespace brindle
