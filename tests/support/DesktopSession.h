#pragma once

#include <sys/types.h>

#include <string>

namespace brindle::test {

// A private desktop for one test: its own D-Bus session bus (dbus-daemon)
// and, when asked, an X server without a screen (Xvfb). Both are stopped
// when the object goes away. available() is false when either program is
// missing or does not start; the test then skips.
class DesktopSession {
public:
    explicit DesktopSession(bool withX) { ok_ = startBus() && (!withX || startX()); }
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    bool available() const { return ok_; }
    const std::string& busAddress() const { return bus_; }
    const std::string& display() const { return display_; }  // ":N", or "" without X

private:
    bool startBus();
    bool startX();

    bool ok_ = false;
    std::string bus_, display_;
    pid_t busPid_ = 0, xPid_ = 0;
};

}  // namespace brindle::test
