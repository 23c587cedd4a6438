#include "option.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <optional>
#include <stdexcept>

#include "Settings.h"
#include "services.h"

namespace tolvane {

namespace {

constexpr int kClientWidth = 451;
constexpr int kClientHeight = 280;

// Typing into the range edits: digits and the full stop (which OK then rejects), Backspace and
// Enter. Keys that type nothing (arrows, Delete, Tab) are not typing and pass.
bool isAcceptedRangeKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backspace || key.key() == Qt::Key_Return ||
        key.key() == Qt::Key_Enter || key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab)
        return true;
    const QString text = key.text();
    if (text.isEmpty())
        return true;
    for (const QChar c : text)
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('.'))
            return false;
    return true;
}

std::optional<std::int32_t> integerOf(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QLabel* label(const QString& text, QWidget* parent, int x, int y) {
    auto* result = new QLabel(text, parent);
    result->move(x, y);
    result->adjustSize();
    return result;
}

} // namespace

TfrmOption::TfrmOption(TSettings& settings, QWidget* parent)
    : QDialog(parent), FSettings(settings) {
    setWindowTitle(QStringLiteral("Option"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(kClientWidth, kClientHeight);
    ShowError = [this](const QString& message) { ShowErrorBox(message, this); };

    gbPageRange = new QGroupBox(QStringLiteral(" Page Range "), this);
    gbPageRange->setGeometry(8, 16, 281, 97);
    rbPRAll = new QRadioButton(QStringLiteral("Extract all pages"), gbPageRange);
    rbPRAll->setGeometry(16, 24, 200, 20);
    rbPRRange = new QRadioButton(QStringLiteral("Page from "), gbPageRange);
    rbPRRange->setGeometry(16, 56, 88, 20);
    eBegin = new QLineEdit(gbPageRange);
    eBegin->setGeometry(104, 55, 49, 21);
    label(QStringLiteral("To"), gbPageRange, 164, 58);
    eEnd = new QLineEdit(gbPageRange);
    eEnd->setGeometry(188, 55, 49, 21);

    rgExtract = new QGroupBox(QStringLiteral("Extract "), this);
    rgExtract->setGeometry(296, 16, 145, 97);
    rgExtractItems = new QButtonGroup(this);
    const QString items[] = {QStringLiteral("All pages"), QStringLiteral("Odd pages"),
                             QStringLiteral("Even pages")};
    for (int i = 0; i < 3; ++i) {
        auto* item = new QRadioButton(items[i], rgExtract);
        item->setGeometry(12, 22 + i * 24, 120, 20);
        rgExtractItems->addButton(item, i);
    }

    gbPage = new QGroupBox(QStringLiteral(" Page "), this);
    gbPage->setGeometry(8, 120, 433, 89);
    label(QStringLiteral("Header:"), gbPage, 16, 27);
    eHeader = new QLineEdit(gbPage);
    eHeader->setGeometry(64, 24, 353, 21);
    label(QStringLiteral("Footer:"), gbPage, 16, 57);
    eFooter = new QLineEdit(gbPage);
    eFooter->setGeometry(64, 54, 353, 21);

    bOK = new QPushButton(QStringLiteral("&OK"), this);
    bOK->setGeometry(286, 244, 75, 25);
    bOK->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel->setGeometry(366, 244, 75, 25);

    label(QStringLiteral("Extract Type:"), this, 8, 249);
    cbTextType = new QComboBox(this); // a drop-down list: choosing only, no typing
    cbTextType->setGeometry(86, 245, 145, 22);
    cbTextType->addItems({QStringLiteral("In PDF Order"), QStringLiteral("Smart Rearrange"),
                          QStringLiteral("With Position")});

    const QList<QAbstractButton*> filterItems = rgExtractItems->buttons();
    QWidget* order[] = {rbPRAll,        rbPRRange, eBegin,  eEnd, filterItems[0], filterItems[1],
                        filterItems[2], eFooter,   eHeader, bOK,  bCancel,        cbTextType};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    for (QLineEdit* edit : {eBegin, eEnd})
        edit->installEventFilter(this);
    connect(bOK, &QPushButton::clicked, this, &TfrmOption::bOKClick);
    connect(bCancel, &QPushButton::clicked, this, &TfrmOption::bCancelClick);

    Fill();
    CenterOnScreen(*this);
}

void TfrmOption::Fill() {
    switch (FSettings.RangeKind()) {
    case 1:
        rbPRAll->setChecked(true);
        break;
    case 2:
        rbPRRange->setChecked(true);
        break;
    default:
        throw std::runtime_error("INNER ERROR: Error page range type");
    }
    eBegin->setText(QString::number(FSettings.FirstPage()));
    eEnd->setText(QString::number(FSettings.LastPage()));
    const int filter = FSettings.PageFilter();
    if (filter < 1 || filter > 3)
        throw std::runtime_error("INNER ERROR: Error Extract type");
    rgExtractItems->button(filter - 1)->setChecked(true);
    eFooter->setText(QString::fromStdString(FSettings.Footer()));
    eHeader->setText(QString::fromStdString(FSettings.Header()));
    const int textType = FSettings.TextType();
    cbTextType->setCurrentIndex(textType <= 2 ? textType : -1);
}

bool TfrmOption::eventFilter(QObject* watched, QEvent* event) {
    if (watched == eBegin || watched == eEnd) {
        if (event->type() == QEvent::FocusIn)
            rbPRRange->setChecked(true);
        else if (event->type() == QEvent::KeyPress &&
                 !isAcceptedRangeKey(static_cast<const QKeyEvent&>(*event)))
            return true; // dropped
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmOption::bOKClick() {
    // In this order: a bad last page is reported after the first page was taken.
    const std::optional<std::int32_t> first = integerOf(eBegin->text());
    if (!first) {
        ShowError(QStringLiteral("'%1' is not a valid integer value").arg(eBegin->text()));
        return;
    }
    FSettings.SetFirstPage(*first);
    const std::optional<std::int32_t> last = integerOf(eEnd->text());
    if (!last) {
        ShowError(QStringLiteral("'%1' is not a valid integer value").arg(eEnd->text()));
        return;
    }
    FSettings.SetLastPage(*last);
    FSettings.SetRangeKind(rbPRAll->isChecked() ? 1 : 2);
    const int filterItem = rgExtractItems->checkedId();
    if (filterItem < 0) {
        ShowError(QStringLiteral("INNER ERROR: Selected extract does not exist!"));
        return;
    }
    FSettings.SetPageFilter(filterItem + 1);
    FSettings.SetFooter(eFooter->text().toStdString());
    FSettings.SetHeader(eHeader->text().toStdString());
    if (cbTextType->currentIndex() >= 0)
        FSettings.SetTextType(static_cast<std::uint8_t>(cbTextType->currentIndex()));
    FSettings.Save();
    accept();
}

void TfrmOption::bCancelClick() {
    reject();
}

} // namespace tolvane
