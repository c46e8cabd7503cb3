#include "app/BackgroundWork.h"

#include <thread>

namespace brindle {

BackgroundWork::~BackgroundWork() {
    waitUntilIdle();
}

void BackgroundWork::run(Task task) {
    {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    std::thread([this, task = std::move(task)] {
        try {
            task();
        } catch (...) {
            // A task reports its own failures; nothing may leave the thread.
        }
        std::lock_guard lock(mutex_);
        --running_;
        done_.notify_all();
    }).detach();
}

void BackgroundWork::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return running_ == 0; });
}

bool BackgroundWork::idle() {
    std::lock_guard lock(mutex_);
    return running_ == 0;
}

}  // namespace brindle
