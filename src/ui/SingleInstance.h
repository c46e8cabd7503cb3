#pragma once

#include <QLocalServer>
#include <functional>
#include <string>

namespace brindle::ui {

// One tray application per user: the first one listens on a socket in
// $XDG_RUNTIME_DIR (else the temporary folder, named with the user id); a
// later one finds it there, asks it to show its settings and steps back.
// Needs a QCoreApplication.
class SingleInstance {
public:
    explicit SingleInstance(std::string socketPath = defaultPath());

    static std::string defaultPath();

    // Asks a running instance to show its settings; true when one answered.
    bool askRunningToShowSettings();
    // Becomes the running instance: showSettings runs on every later ask.
    // False when the socket cannot be made.
    bool listen(std::function<void()> showSettings);

private:
    std::string path_;
    QLocalServer server_;
    std::function<void()> showSettings_;
};

}  // namespace brindle::ui
