#pragma once

#include <QApplication>
#include <cstdlib>

namespace brindle::test {

// One QApplication for the widget tests, on Qt's offscreen platform so that
// no display is needed; created on first use and kept for the process.
inline QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = [] {
        auto* made = new QApplication(argc, argv);
        QApplication::setStyle("Fusion");
        return made;
    }();
    return *app;
}

}  // namespace brindle::test
