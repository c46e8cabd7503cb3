#include "ui/SettingsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace brindle::ui {

namespace {

constexpr int kTextWidth = 360;

QFrame* separator() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedWidth(kTextWidth);
    return line;
}

}  // namespace

SettingsWindow::SettingsWindow(Pressed pressed) : pressed_(std::move(pressed)) {
    setWindowTitle(SettingsView::kTitle);
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(10);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice_ = note({});
    notice_->hide();
    accountLabel_ = note({});
    accountButton_ = new QPushButton;
    tokenButton_ = new QPushButton(SettingsView::kTokenButton);
    tokenNote_ = note(SettingsView::kTokenNote);
    loginBox_ = new QCheckBox(SettingsView::kLoginBox);
    auto* showLog = new QPushButton(SettingsView::kShowLog);
    version_ = note({});
    stack->addWidget(notice_);
    stack->addWidget(heading("Account"));
    for (QWidget* widget : std::initializer_list<QWidget*>{accountLabel_, accountButton_, tokenButton_, tokenNote_})
        stack->addWidget(widget, 0, Qt::AlignLeft);
    stack->addSpacing(16);
    stack->addWidget(separator());
    stack->addWidget(heading("General"));
    stack->addWidget(loginBox_);
    stack->addSpacing(16);
    stack->addWidget(separator());
    stack->addWidget(heading("Help"));
    stack->addWidget(showLog, 0, Qt::AlignLeft);
    stack->addWidget(version_);
    connect(accountButton_, &QPushButton::clicked, this,
            [this] { pressed_(signedIn_ ? SettingsAction::signOut : SettingsAction::signIn); });
    connect(tokenButton_, &QPushButton::clicked, this, [this] { pressed_(SettingsAction::useToken); });
    connect(showLog, &QPushButton::clicked, this, [this] { pressed_(SettingsAction::showLog); });
    // The box shows the registration, which the application changes and reports back.
    connect(loginBox_, &QCheckBox::clicked, this, [this] { pressed_(SettingsAction::toggleLogin); });
    resize(400, 300);
}

QLabel* SettingsWindow::heading(const char* text) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSize(13);
    label->setFont(font);
    return label;
}

QLabel* SettingsWindow::note(const QString& text) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setPointSize(12);
    label->setFont(font);
    label->setWordWrap(true);
    label->setFixedWidth(kTextWidth);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

void SettingsWindow::refresh(const SettingsView& view) {
    signedIn_ = view.signedIn;
    accountLabel_->setText(QString::fromStdString(view.accountLabel));
    accountButton_->setText(QString::fromStdString(view.accountButton));
    tokenButton_->setHidden(view.tokenControlsHidden);
    tokenNote_->setHidden(view.tokenControlsHidden);
    loginBox_->setChecked(view.opensAtLogin);
    version_->setText(QString::fromStdString(view.versionLabel));
    notice_->setText(QString::fromStdString(view.notice));
    notice_->setHidden(view.notice.empty());
    adjustSize();
}

void SettingsWindow::present(const SettingsView& view) {
    refresh(view);
    bool first = !isVisible();
    show();
    if (first && screen()) move(screen()->availableGeometry().center() - rect().center());
    raise();
    activateWindow();
}

bool SettingsWindow::snapshot(const std::string& path) {
    setPalette(style()->standardPalette());
    adjustSize();
    QPixmap picture = grab();
    if (picture.isNull()) return false;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!picture.save(&file, "PNG")) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace brindle::ui
