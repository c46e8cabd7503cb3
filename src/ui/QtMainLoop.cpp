#include "ui/QtMainLoop.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <chrono>

namespace brindle::ui {

QtMainLoop::QtMainLoop() = default;

QtMainLoop::~QtMainLoop() {
    for (auto& [id, timer] : timers_) delete timer;
}

void QtMainLoop::onLoop(Task work) {
    if (QThread::currentThread() == context_.thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

void QtMainLoop::post(Task task) {
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

MainLoop::TimerId QtMainLoop::after(double seconds, Task task) {
    return start(seconds, false, std::move(task));
}

MainLoop::TimerId QtMainLoop::every(double seconds, Task task) {
    return start(seconds, true, std::move(task));
}

MainLoop::TimerId QtMainLoop::start(double seconds, bool repeat, Task task) {
    TimerId id = nextId_++;
    onLoop([this, id, seconds, repeat, task = std::move(task)] {
        auto* timer = new QTimer(&context_);
        timer->setSingleShot(!repeat);
        timer->setTimerType(seconds < 2 ? Qt::PreciseTimer : Qt::CoarseTimer);
        timers_[id] = timer;
        QObject::connect(timer, &QTimer::timeout, &context_, [this, id, repeat, task] {
            if (!repeat) cancel(id);
            task();
        });
        timer->start(static_cast<int>(seconds * 1000));
    });
    return id;
}

void QtMainLoop::cancel(TimerId id) {
    onLoop([this, id] {
        auto found = timers_.find(id);
        if (found == timers_.end()) return;
        found->second->stop();
        found->second->deleteLater();
        timers_.erase(found);
    });
}

double QtMainLoop::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace brindle::ui
