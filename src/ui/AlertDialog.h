#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "app/Desktop.h"

class QComboBox;
class QLineEdit;

namespace brindle::ui {

// One alert as a window-modal-free dialog: bold message, informative text,
// the accessory fields at their places, and the buttons (the first is the
// default). finished() reports the chosen button once; closing the window
// counts as no button (-1). Shown with open() so the main loop keeps running.
class AlertDialog : public QDialog {
public:
    AlertDialog(const Alert& alert, std::function<void(const AlertAnswer&)> answered);

    // Closes the dialog without answering.
    void dismiss();
    // The field widgets, in the alert's order (a QLineEdit or a QComboBox).
    const std::vector<QWidget*>& fields() const { return fields_; }

private:
    QWidget* accessory(const Alert& alert);
    void answer(int button);

    std::function<void(const AlertAnswer&)> answered_;
    std::vector<QWidget*> fields_;
    bool done_ = false;
};

}  // namespace brindle::ui
