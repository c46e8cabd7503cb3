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
    std::thread([this, task = std::move(task)]() mutable {
        try {
            task();
        } catch (...) {
            // A task reports its own failures; nothing may leave the thread.
        }
        // Let go of what the task holds (the engine, say) while the owner still waits.
        task = nullptr;
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
