// The option dialog: filling from the settings, typing in the range edits, OK's order and its
// messages, the round trip through the stored settings, and Cancel.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <stdexcept>

#include "GuiTestSupport.h"
#include "Settings.h"
#include "option.h"
#include "services.h"

using namespace tolvane;

namespace {

class OptionTest : public ::testing::Test {
protected:
    void SetUp() override { tolvane_gui_test::ClearStoredSettings(); }
    void TearDown() override { tolvane_gui_test::ClearStoredSettings(); }

    // The dialog with its error box replaced by a record of the messages.
    std::unique_ptr<TfrmOption> Make() {
        auto form = std::make_unique<TfrmOption>(Settings);
        form->ShowError = [this](const QString& m) { Errors.push_back(m.toStdString()); };
        return form;
    }
    static void Type(QLineEdit* edit, const char* keys) {
        edit->clear();
        QTest::keyClicks(edit, keys);
    }

    TSettings Settings;
    std::vector<std::string> Errors;
};

} // namespace

TEST_F(OptionTest, IsAFixedDialogWithAChooseOnlyLayoutList) {
    auto form = Make();
    EXPECT_EQ(form->windowTitle(), "Option");
    EXPECT_EQ(form->size(), QSize(Scaled(451), Scaled(280)));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->cbTextType->isEditable());
    EXPECT_EQ(form->cbTextType->count(), 4);
    EXPECT_EQ(form->cbTextType->itemText(3), "Reading Order");
    EXPECT_EQ(form->font(), QApplication::font()) << "the desktop's font, not a Windows face";
    EXPECT_EQ(form->rgExtractItems->buttons().size(), 3);
}

TEST_F(OptionTest, TabOrderTakesTheFooterBeforeTheHeader) {
    auto form = Make();
    const QList<QAbstractButton*> items = form->rgExtractItems->buttons();
    EXPECT_EQ(tolvane_gui_test::TabOrder(form->rbPRAll),
              (std::vector<QWidget*>{form->rbPRAll, form->rbPRRange, form->eBegin, form->eEnd,
                                     items[0], items[1], items[2], form->eFooter, form->eHeader,
                                     form->bOK, form->bCancel, form->cbTextType}));
}

TEST_F(OptionTest, DefaultsFillTheDialog) {
    auto form = Make();
    EXPECT_TRUE(form->rbPRAll->isChecked());
    EXPECT_EQ(form->eBegin->text(), "1");
    EXPECT_EQ(form->eEnd->text(), "1");
    EXPECT_EQ(form->rgExtractItems->checkedId(), 0);
    EXPECT_EQ(form->eFooter->text(), " = Page &p =");
    EXPECT_EQ(form->eHeader->text(), "");
    EXPECT_EQ(form->cbTextType->currentIndex(), 1);
}

TEST_F(OptionTest, RangeKindTwoFilterAndTextTypeSelectTheirItems) {
    Settings.SetRangeKind(2);
    Settings.SetFirstPage(3);
    Settings.SetLastPage(12);
    Settings.SetHeader("&n");
    Settings.SetFooter("");
    for (int filter = 1; filter <= 3; ++filter) {
        Settings.SetPageFilter(filter);
        Settings.SetTextType(static_cast<std::uint8_t>(filter - 1));
        auto form = Make();
        EXPECT_TRUE(form->rbPRRange->isChecked());
        EXPECT_FALSE(form->rbPRAll->isChecked());
        EXPECT_EQ(form->eBegin->text(), "3");
        EXPECT_EQ(form->eEnd->text(), "12");
        EXPECT_EQ(form->eHeader->text(), "&n");
        EXPECT_EQ(form->eFooter->text(), "");
        EXPECT_EQ(form->rgExtractItems->checkedId(), filter - 1);
        EXPECT_EQ(form->cbTextType->currentIndex(), filter - 1);
    }
}

TEST_F(OptionTest, ReadingOrderIsTextTypeThree) {
    Settings.SetTextType(3);
    auto form = Make();
    EXPECT_EQ(form->cbTextType->currentIndex(), 3);
    form->cbTextType->setCurrentIndex(3);
    form->bOKClick();
    TSettings stored;
    stored.Load();
    EXPECT_EQ(stored.TextType(), 3);
}

TEST_F(OptionTest, TextTypeOutOfRangeLeavesTheListWithoutSelection) {
    Settings.SetTextType(7);
    auto form = Make();
    EXPECT_EQ(form->cbTextType->currentIndex(), -1);
    form->bOKClick();
    EXPECT_EQ(Settings.TextType(), 7) << "no item selected: kept as it was";
}

TEST_F(OptionTest, RangeKindOutOfRangeIsAnInnerError) {
    Settings.SetRangeKind(3);
    try {
        Make();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "INNER ERROR: Error page range type");
    }
}

TEST_F(OptionTest, PageFilterOutOfRangeIsAnInnerError) {
    Settings.SetPageFilter(0);
    try {
        Make();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "INNER ERROR: Error Extract type");
    }
}

TEST_F(OptionTest, RangeEditsTakeDigitsFullStopAndBackspaceOnly) {
    auto form = Make();
    Type(form->eBegin, "1a2 .x-3");
    EXPECT_EQ(form->eBegin->text(), "12.3");
    QTest::keyClick(form->eBegin, Qt::Key_Backspace);
    EXPECT_EQ(form->eBegin->text(), "12.");
    Type(form->eEnd, "+7,5e");
    EXPECT_EQ(form->eEnd->text(), "75");
    // Other edits take everything.
    Type(form->eHeader, "Page &p of &a");
    EXPECT_EQ(form->eHeader->text(), "Page &p of &a");
}

// The platform's editing keys work in the range edits, and what a paste brings in is cut to
// the characters typing may enter.
TEST_F(OptionTest, RangeEditsTakeEditingKeysAndFilterPastes) {
    struct Case {
        const char* initial;
        const char* clipboard;
        std::vector<QKeySequence> keys;
        const char* expected;
    };
    const QKeySequence home(Qt::Key_Home), end(Qt::Key_End), del(Qt::Key_Delete);
    const QKeySequence selectLeft(Qt::SHIFT | Qt::Key_Left);
    const Case cases[] = {
        {"123", "", {home, del}, "23"},
        {"123", "", {QKeySequence::SelectAll, del}, ""},
        {"123", "", {end, selectLeft, selectLeft, del}, "1"},
        {"123", "", {QKeySequence::SelectAll, QKeySequence::Cut}, ""},
        {"12", "4a5.b6", {end, QKeySequence::Paste}, "1245.6"},
        {"12", "4a5.b6", {home, QKeySequence::Paste, Qt::Key_7}, "45.6712"},
        {"12", "x", {QKeySequence::SelectAll, QKeySequence::Paste}, ""},
        {"12", "", {home, del, QKeySequence::Undo}, "12"},
    };
    auto form = Make();
    form->show();
    for (const Case& c : cases) {
        QApplication::clipboard()->setText(QString::fromUtf8(c.clipboard));
        form->eBegin->setText(QString::fromUtf8(c.initial));
        form->eBegin->setFocus();
        for (const QKeySequence& key : c.keys)
            QTest::keySequence(form->eBegin, key);
        EXPECT_EQ(form->eBegin->text().toStdString(), c.expected) << c.initial << " " << c.clipboard;
    }
}

TEST_F(OptionTest, EnteringARangeEditChecksPageFromAndNothingElse) {
    auto form = Make();
    ASSERT_TRUE(form->rbPRAll->isChecked());
    QFocusEvent focus(QEvent::FocusIn, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(form->eEnd, &focus);
    EXPECT_TRUE(form->rbPRRange->isChecked());
    EXPECT_EQ(form->eBegin->text(), "1");
    EXPECT_EQ(form->eEnd->text(), "1");
    EXPECT_EQ(Settings.RangeKind(), 1) << "taken only by OK";
}

TEST_F(OptionTest, OkTakesTheValuesAndSavesThem) {
    auto form = Make();
    form->rbPRRange->setChecked(true);
    Type(form->eBegin, "4");
    Type(form->eEnd, "9");
    form->rgExtractItems->button(2)->setChecked(true);
    form->eHeader->setText("&n page &p");
    form->eFooter->setText("");
    form->cbTextType->setCurrentIndex(2);
    form->bOK->click();
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(form->result(), QDialog::Accepted);

    TSettings stored;
    stored.Load();
    EXPECT_EQ(stored.RangeKind(), 2);
    EXPECT_EQ(stored.FirstPage(), 4);
    EXPECT_EQ(stored.LastPage(), 9);
    EXPECT_EQ(stored.PageFilter(), 3);
    EXPECT_EQ(stored.Header(), "&n page &p");
    EXPECT_EQ(stored.Footer(), "") << "a cleared footer is saved empty";
    EXPECT_EQ(stored.TextType(), 2);
    EXPECT_EQ(tolvane_gui_test::StoredSettingNames().size(), 7);
}

TEST_F(OptionTest, BadLastPageKeepsTheDialogOpenWithTheFirstPageTaken) {
    Settings.SetFirstPage(2);
    Settings.SetLastPage(8);
    auto form = Make();
    Type(form->eBegin, "5");
    Type(form->eEnd, "3.");
    form->rbPRRange->setChecked(true);
    form->bOKClick();
    EXPECT_EQ(Errors, std::vector<std::string>{"'3.' is not a valid integer value"});
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_EQ(Settings.FirstPage(), 5) << "taken before the failure";
    EXPECT_EQ(Settings.LastPage(), 8);
    EXPECT_EQ(Settings.RangeKind(), 1) << "taken after the failure: not taken";
    EXPECT_TRUE(tolvane_gui_test::StoredSettingNames().isEmpty()) << "nothing saved";
}

TEST_F(OptionTest, EmptyFirstPageIsReportedFirst) {
    auto form = Make();
    form->eBegin->clear();
    form->eEnd->setText(".");
    form->bOKClick();
    EXPECT_EQ(Errors, std::vector<std::string>{"'' is not a valid integer value"});
    EXPECT_EQ(Settings.FirstPage(), 1);
    EXPECT_TRUE(tolvane_gui_test::StoredSettingNames().isEmpty());
}

TEST_F(OptionTest, CancelTakesAndSavesNothing) {
    auto form = Make();
    form->rbPRRange->setChecked(true);
    Type(form->eBegin, "6");
    form->eHeader->setText("changed");
    form->cbTextType->setCurrentIndex(0);
    form->bCancel->click();
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(Settings.RangeKind(), 1);
    EXPECT_EQ(Settings.FirstPage(), 1);
    EXPECT_EQ(Settings.Header(), "");
    EXPECT_EQ(Settings.TextType(), 1);
    EXPECT_TRUE(tolvane_gui_test::StoredSettingNames().isEmpty());
}
