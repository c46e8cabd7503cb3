#pragma once

#include <QAbstractNativeEventFilter>
#include <functional>

namespace brindle::ui {

// The global Control+Alt+T shortcut as an X11 key grab on the root window,
// seen through Qt's native event filter. Each press runs the action later
// from the event loop. Where no grab can be made (no X11 connection, e.g.
// Wayland, or another program holds the key) registerKey() returns a non-zero
// status and nothing else happens.
class X11HotKey : public QAbstractNativeEventFilter {
public:
    explicit X11HotKey(std::function<void()> action);
    ~X11HotKey() override;

    // 0 when grabbed (or already grabbed); 1 without an X11 connection; 2
    // when the keyboard has no T key; otherwise the X error code.
    int registerKey();
    void unregisterKey();
    bool registered() const { return keycode_ != 0; }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

private:
    std::function<void()> action_;
    unsigned keycode_ = 0;
    bool filtering_ = false;
};

}  // namespace brindle::ui
