#pragma once

#include <QObject>
#include <atomic>
#include <map>

#include "common/MainLoop.h"

class QTimer;

namespace brindle::ui {

// The main loop of the tray application: Qt's event loop on the thread that
// created the QApplication. Any thread may post or arm timers; tasks run on
// the loop's thread. Create it after the QApplication and destroy it before.
class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    void post(Task task) override;
    TimerId after(double seconds, Task task) override;
    TimerId every(double seconds, Task task) override;
    void cancel(TimerId timer) override;
    double now() const override;

private:
    TimerId start(double seconds, bool repeat, Task task);
    // Runs work on the loop's thread: at once when called there.
    void onLoop(Task work);

    QObject context_;                    // owns the timers; lives on the loop's thread
    std::map<TimerId, QTimer*> timers_;  // loop thread only
    std::atomic<TimerId> nextId_{1};
};

}  // namespace brindle::ui
