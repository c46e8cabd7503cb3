#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "QtTestApplication.h"
#include "app/MenuModel.h"
#include "ui/AlertDialog.h"
#include "ui/MenuView.h"

using namespace brindle;
using namespace brindle::ui;

namespace {

class TrayWidgetsTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }
};

std::string row(const std::string& title, const std::string& shortcut, bool on, bool shown, bool checked) {
    return title + "|" + shortcut + "|" + (on ? "on" : "off") + (shown ? "" : "|hidden") + (checked ? "|checked" : "");
}
// The rows the model asks for, and those the menu draws ("-" for a separator).
std::string modelRows(const std::vector<MenuItem>& items) {
    std::string rows;
    for (const MenuItem& item : items)
        rows +=
            (item.separator ? "-" : row(item.title, item.shortcut, item.enabled, !item.hidden, item.checked)) + "\n";
    return rows;
}
std::string drawnRows(QMenu& menu) {
    std::string rows;
    for (QAction* action : menu.actions())
        rows += (action->isSeparator() ? "-"
                                       : row(action->text().toStdString(), action->shortcut().toString().toStdString(),
                                             action->isEnabled(), action->isVisible(), action->isChecked())) +
                "\n";
    return rows;
}

TEST_F(TrayWidgetsTest, TheMenuDrawsTheModelWithItsSubmenuAndUpdatesTheSameActions) {
    std::vector<MenuId> chosen;
    MenuView view([&](MenuId id) { chosen.push_back(id); });
    Menu model = Menu::initial("brindle.app");
    model.find(MenuId::toggleMorselHotkey)->checked = true;
    view.show(model);
    EXPECT_EQ(drawnRows(*view.menu()), modelRows(model.items));
    EXPECT_EQ(drawnRows(*view.action(MenuId::connections)->menu()),
              modelRows(model.find(MenuId::connections)->submenu));
    view.action(MenuId::syncNow)->trigger();
    view.action(MenuId::importLoft)->trigger();
    EXPECT_EQ(chosen, (std::vector<MenuId>{MenuId::syncNow, MenuId::importLoft}));
    QAction* status = view.action(MenuId::statusLine);
    model.find(MenuId::statusLine)->title = "Syncing\u2026";
    model.find(MenuId::skippedLine)->hidden = false;
    view.show(model);
    EXPECT_EQ(view.action(MenuId::statusLine), status);
    EXPECT_EQ(drawnRows(*view.menu()), modelRows(model.items));
}

TEST_F(TrayWidgetsTest, AnAlertReportsItsButtonAndFieldsOnceAndADismissalNever) {
    Alert alert;
    alert.message = "Add a USB Drive";
    alert.buttons = {"Add Drive", "Cancel"};
    alert.fields = {{AlertField::Kind::popup, "", "", {"KINGSTON", "SPARE"}, 0, 30, 340, 26},
                    {AlertField::Kind::text, "A name for the drive", "KINGSTON", {}, 0, 0, 340, 24}};
    alert.accessoryWidth = 340;
    alert.accessoryHeight = 58;
    std::vector<AlertAnswer> answers;
    auto* dialog = new AlertDialog(alert, [&](const AlertAnswer& answer) { answers.push_back(answer); });
    ASSERT_EQ(dialog->fields().size(), 2u);
    EXPECT_EQ(dialog->fields()[0]->geometry(), QRect(0, 2, 340, 26));  // placed from the bottom
    static_cast<QComboBox*>(dialog->fields()[0])->setCurrentIndex(1);
    static_cast<QLineEdit*>(dialog->fields()[1])->setText("Travel");
    dialog->findChildren<QPushButton*>().at(1)->click();  // rightmost first: "Cancel", then "Add Drive"
    (new AlertDialog(alert, [&](const AlertAnswer& answer) { answers.push_back(answer); }))->dismiss();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(std::to_string(answers[0].button) + std::to_string(answers[0].selected), "01");
    EXPECT_EQ(answers[0].texts, (std::vector<std::string>{"SPARE", "Travel"}));
}

}  // namespace
