#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "QtTestApplication.h"
#include "ui/AlertDialog.h"

using namespace brindle;
using namespace brindle::ui;

namespace {

class AlertDialogTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }
};

TEST_F(AlertDialogTest, AnAlertReportsItsButtonAndFieldsOnceAndADismissalNever) {
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
