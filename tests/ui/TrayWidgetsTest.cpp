#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "QtTestApplication.h"
#include "app/MenuModel.h"
#include "app/SettingsView.h"
#include "ui/AlertDialog.h"
#include "ui/MenuView.h"
#include "ui/SettingsWindow.h"

using namespace brindle;
using namespace brindle::ui;

namespace {

class TrayWidgetsTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }
};

// Each action as "title|shortcut|enabled|visible|checked", "-" for a separator.
std::vector<std::string> describe(QMenu& menu) {
    std::vector<std::string> rows;
    for (QAction* action : menu.actions())
        rows.push_back(action->isSeparator()
                           ? "-"
                           : action->text().toStdString() + "|" + action->shortcut().toString().toStdString() + "|" +
                                 (action->isEnabled() ? "on" : "off") + "|" +
                                 (action->isVisible() ? "shown" : "hidden") + (action->isChecked() ? "|checked" : ""));
    return rows;
}

TEST_F(TrayWidgetsTest, TheMenuDrawsItsItemsInOrderWithStatesAndShortcutsAndUpdatesThemInPlace) {
    std::vector<MenuId> chosen;
    MenuView view([&](MenuId id) { chosen.push_back(id); });
    Menu model = Menu::initial("brindle.app");
    model.find(MenuId::toggleMorselHotkey)->checked = true;
    view.show(model);
    EXPECT_EQ(
        describe(*view.menu()),
        (std::vector<std::string>{"Starting\u2026||off|shown", "||off|hidden", "-", "Sync Now|Ctrl+S|on|shown",
                                  "Open Larder Folder|Ctrl+O|on|shown", "Open Larder Online||on|shown", "-",
                                  "Share a File\u2026||on|shown", "Send Clipboard to Morsels||on|shown",
                                  "Morsels Hotkey (\u2303\u2325T)||on|shown|checked", "Open Morsels Online||on|shown",
                                  "Open Shared Larder Online||on|shown", "-", "Connections||on|shown",
                                  "Settings\u2026|Ctrl+,|on|shown", "-", "Quit Brindle|Ctrl+Q|on|shown"}));
    QMenu* connections = view.action(MenuId::connections)->menu();
    ASSERT_NE(connections, nullptr);
    std::vector<std::string> sub = describe(*connections);
    ASSERT_EQ(sub.size(), 15u);
    EXPECT_EQ(sub[2], "USB drives: none added||off|shown");
    EXPECT_EQ(sub[3], "-");
    EXPECT_EQ(sub[14], "Import from Loft Repo\u2026||on|shown");

    view.action(MenuId::syncNow)->trigger();
    view.action(MenuId::importLoft)->trigger();
    EXPECT_EQ(chosen, (std::vector<MenuId>{MenuId::syncNow, MenuId::importLoft}));

    // A later state updates the same actions.
    QAction* status = view.action(MenuId::statusLine);
    model.find(MenuId::statusLine)->title = "Syncing\u2026";
    model.find(MenuId::skippedLine)->hidden = false;
    view.show(model);
    EXPECT_EQ(view.action(MenuId::statusLine), status);
    EXPECT_EQ(status->text().toStdString(), "Syncing\u2026");
    EXPECT_TRUE(view.action(MenuId::skippedLine)->isVisible());
    EXPECT_EQ(view.menu()->actions().size(), 17);
}

TEST_F(TrayWidgetsTest, TheSettingsWindowShowsTheAccountState) {
    std::vector<SettingsAction> pressed;
    SettingsWindow window([&](SettingsAction action) { pressed.push_back(action); });
    window.refresh(SettingsView::make(true, true, "brindle.app", "1.0.0"));
    EXPECT_EQ(window.windowTitle().toStdString(), "Brindle Settings");
    EXPECT_EQ(window.accountButton()->text().toStdString(), "Sign Out of Brindle");
    EXPECT_TRUE(window.tokenButton()->isHidden());
    EXPECT_TRUE(window.tokenNote()->isHidden());
    EXPECT_TRUE(window.loginBox()->isChecked());
    window.accountButton()->click();

    window.refresh(SettingsView::make(false, false, "brindle.app", "1.0.0"));
    EXPECT_EQ(window.accountLabel()->text().toStdString(),
              "You're not signed in. Sign in to use the account you made on brindle.app.");
    EXPECT_EQ(window.accountButton()->text().toStdString(), "Sign In to Brindle\u2026");
    EXPECT_FALSE(window.tokenButton()->isHidden());
    EXPECT_EQ(window.tokenButton()->text().toStdString(), "Use a GitHub Token Instead\u2026");
    EXPECT_FALSE(window.loginBox()->isChecked());
    window.accountButton()->click();
    window.tokenButton()->click();
    window.loginBox()->click();
    EXPECT_EQ(pressed, (std::vector<SettingsAction>{SettingsAction::signOut, SettingsAction::signIn,
                                                    SettingsAction::useToken, SettingsAction::toggleLogin}));
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
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].button, 0);
    EXPECT_EQ(answers[0].selected, 1);
    EXPECT_EQ(answers[0].texts, (std::vector<std::string>{"SPARE", "Travel"}));

    auto* closed = new AlertDialog(alert, [&](const AlertAnswer& answer) { answers.push_back(answer); });
    closed->dismiss();
    EXPECT_EQ(answers.size(), 1u);
}

}  // namespace
