#pragma once

#include <QWidget>
#include <functional>

#include "app/SettingsView.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace brindle::ui {

// The "Brindle Settings" window: account, open at login, log and version.
// It draws a SettingsView and reports its buttons; it decides nothing.
// Built once and kept when closed.
class SettingsWindow : public QWidget {
public:
    using Pressed = std::function<void(SettingsAction)>;

    explicit SettingsWindow(Pressed pressed);

    void refresh(const SettingsView& view);
    // Shows the window and brings it to the front.
    void present(const SettingsView& view);
    // Draws the window with the light palette into a PNG at path; false (and
    // nothing written) on any failure.
    bool snapshot(const std::string& path);

    QLabel* accountLabel() const { return accountLabel_; }
    QPushButton* accountButton() const { return accountButton_; }
    QPushButton* tokenButton() const { return tokenButton_; }
    QLabel* tokenNote() const { return tokenNote_; }
    QCheckBox* loginBox() const { return loginBox_; }
    QLabel* notice() const { return notice_; }

private:
    QLabel* heading(const char* text);
    QLabel* note(const QString& text);

    Pressed pressed_;
    bool signedIn_ = false;
    QLabel* notice_;
    QLabel* accountLabel_;
    QPushButton* accountButton_;
    QPushButton* tokenButton_;
    QLabel* tokenNote_;
    QCheckBox* loginBox_;
    QLabel* version_;
};

}  // namespace brindle::ui
