#include "ui/AlertDialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace brindle::ui {

AlertDialog::AlertDialog(const Alert& alert, std::function<void(const AlertAnswer&)> answered)
    : answered_(std::move(answered)) {
    setWindowTitle("Brindle");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    auto* message = new QLabel(QString::fromStdString(alert.message));
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    message->setWordWrap(true);
    layout->addWidget(message);
    if (!alert.informative.empty()) {
        auto* informative = new QLabel(QString::fromStdString(alert.informative));
        informative->setWordWrap(true);
        informative->setTextInteractionFlags(Qt::TextSelectableByMouse);
        informative->setMaximumWidth(420);
        layout->addWidget(informative);
    }
    if (!alert.fields.empty()) layout->addWidget(accessory(alert));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    // The first button is the default and sits rightmost, as on most desktops.
    for (int index = static_cast<int>(alert.buttons.size()) - 1; index >= 0; --index) {
        auto* button = new QPushButton(QString::fromStdString(alert.buttons[index]));
        button->setDefault(index == 0);
        button->setAutoDefault(index == 0);
        connect(button, &QPushButton::clicked, this, [this, index] { answer(index); });
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    connect(this, &QDialog::rejected, this, [this] { answer(-1); });
    if (alert.focusField >= 0 && static_cast<size_t>(alert.focusField) < fields_.size()) {
        QWidget* focus = fields_[alert.focusField];
        QTimer::singleShot(0, focus, [focus] { focus->setFocus(); });
    }
}

// Fields are placed from the accessory's bottom-left corner, so y is flipped.
QWidget* AlertDialog::accessory(const Alert& alert) {
    auto* view = new QWidget;
    view->setFixedSize(alert.accessoryWidth, alert.accessoryHeight);
    for (const AlertField& field : alert.fields) {
        QWidget* widget = nullptr;
        if (field.kind == AlertField::Kind::popup) {
            auto* popup = new QComboBox(view);
            for (const std::string& choice : field.choices) popup->addItem(QString::fromStdString(choice));
            widget = popup;
        } else {
            auto* line = new QLineEdit(view);
            line->setPlaceholderText(QString::fromStdString(field.placeholder));
            line->setText(QString::fromStdString(field.value));
            if (field.kind == AlertField::Kind::secure) line->setEchoMode(QLineEdit::Password);
            widget = line;
        }
        widget->setGeometry(field.x, alert.accessoryHeight - field.y - field.height, field.width, field.height);
        fields_.push_back(widget);
    }
    return view;
}

void AlertDialog::answer(int button) {
    if (done_) return;
    done_ = true;
    AlertAnswer result;
    result.button = button;
    for (QWidget* widget : fields_) {
        if (auto* line = qobject_cast<QLineEdit*>(widget)) result.texts.push_back(line->text().toStdString());
        if (auto* popup = qobject_cast<QComboBox*>(widget)) {
            result.texts.push_back(popup->currentText().toStdString());
            result.selected = popup->currentIndex();
        }
    }
    close();
    if (answered_) answered_(result);
}

void AlertDialog::dismiss() {
    done_ = true;
    close();
}

}  // namespace brindle::ui
