// The input dialog: its defaults, hidden input, and AskString's answers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "GuiTestSupport.h"
#include "InputString.h"
#include "services.h"

using namespace tolvane;

namespace {

// Answers the next modal input dialog: types `text` and presses OK or Cancel.
void answerNextDialog(const QString& text, bool ok) {
    QTimer::singleShot(0, [text, ok]() {
        auto* form = qobject_cast<TFrmInputString*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        form->Edit1->setText(text);
        (ok ? form->bOk : form->bCancel)->click();
    });
}

} // namespace

TEST(InputString, HiddenInputShowsStarsAndOkIsTheDefault) {
    TFrmInputString form("\"a.pdf\" needs password to open:", "", true, "Password");
    EXPECT_EQ(form.windowTitle(), "Password");
    EXPECT_EQ(form.size(), QSize(Scaled(419), Scaled(100)));
    EXPECT_EQ(form.lblMsg->text(), "\"a.pdf\" needs password to open:");
    EXPECT_EQ(TFrmInputString("", "initial", false, "").Edit1->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(form.Edit1->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(form.Edit1->styleSheet().contains("lineedit-password-character: 42"));
    EXPECT_EQ(form.bOk->text(), "&Ok");
    EXPECT_TRUE(form.bOk->isDefault());
    EXPECT_EQ(form.bCancel->text(), "&Cancel");
    EXPECT_FALSE(form.bCancel->isDefault());
    EXPECT_EQ(tolvane_gui_test::TabOrder(form.Edit1),
              (std::vector<QWidget*>{form.Edit1, form.bOk, form.bCancel}));
}

TEST(InputString, AskStringAnswersOkWithTheText) {
    QString value = "before";
    answerNextDialog("secret", true);
    EXPECT_TRUE(AskString(value, "Prompt", "", true, "Password"));
    EXPECT_EQ(value, "secret");
}

TEST(InputString, AskStringHandsBackTheTextAlsoOnCancel) {
    QString value;
    answerNextDialog("typed", false);
    EXPECT_FALSE(AskString(value, "Prompt", "", true, "Password"));
    EXPECT_EQ(value, "typed");
}
