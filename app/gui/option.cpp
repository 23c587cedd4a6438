#include "option.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

#include <optional>
#include <stdexcept>

#include "Settings.h"
#include "services.h"

namespace tolvane {

namespace {

constexpr int kClientWidth = 451;
constexpr int kClientHeight = 280;

// The text of a range edit holds the digits 0 to 9 and the full stop (which OK then rejects),
// whatever brought it in: typing, a paste or a drop. Anything else is taken out, and the cursor
// stays after what it followed. Editing keys (Delete, Backspace, Ctrl+A/C/V/X/Z, Home, End,
// selecting) work as in any edit box: the validator sees text, not keys.
class TRangeValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        QString kept;
        kept.reserve(input.size());
        int keptPos = 0;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = input[i];
            if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.')) {
                kept += c;
                if (i < pos)
                    ++keptPos;
            }
        }
        input = kept;
        pos = keptPos;
        return Acceptable;
    }
};

std::optional<std::int32_t> integerOf(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QLabel* label(const QString& text, QWidget* parent, int x, int y) {
    auto* result = new QLabel(text, parent);
    result->move(Scaled(x), Scaled(y));
    result->adjustSize();
    return result;
}

} // namespace

TfrmOption::TfrmOption(TSettings& settings, QWidget* parent)
    : QDialog(parent), FSettings(settings) {
    setWindowTitle(QStringLiteral("Option"));
    // The desktop's font; the layout grows with it.
    setFixedSize(Scaled(kClientWidth), Scaled(kClientHeight));
    ShowError = [this](const QString& message) { ShowErrorBox(message, this); };

    gbPageRange = new QGroupBox(QStringLiteral(" Page Range "), this);
    SetScaledGeometry(*gbPageRange, 8, 16, 281, 97);
    rbPRAll = new QRadioButton(QStringLiteral("Extract all pages"), gbPageRange);
    SetScaledGeometry(*rbPRAll, 16, 24, 200, 20);
    rbPRRange = new QRadioButton(QStringLiteral("Page from "), gbPageRange);
    SetScaledGeometry(*rbPRRange, 16, 56, 88, 20);
    eBegin = new QLineEdit(gbPageRange);
    SetScaledGeometry(*eBegin, 104, 55, 49, 21);
    label(QStringLiteral("To"), gbPageRange, 164, 58);
    eEnd = new QLineEdit(gbPageRange);
    SetScaledGeometry(*eEnd, 188, 55, 49, 21);

    rgExtract = new QGroupBox(QStringLiteral("Extract "), this);
    SetScaledGeometry(*rgExtract, 296, 16, 145, 97);
    rgExtractItems = new QButtonGroup(this);
    const QString items[] = {QStringLiteral("All pages"), QStringLiteral("Odd pages"),
                             QStringLiteral("Even pages")};
    for (int i = 0; i < 3; ++i) {
        auto* item = new QRadioButton(items[i], rgExtract);
        SetScaledGeometry(*item, 12, 22 + i * 24, 120, 20);
        rgExtractItems->addButton(item, i);
    }

    gbPage = new QGroupBox(QStringLiteral(" Page "), this);
    SetScaledGeometry(*gbPage, 8, 120, 433, 89);
    label(QStringLiteral("Header:"), gbPage, 16, 27);
    eHeader = new QLineEdit(gbPage);
    SetScaledGeometry(*eHeader, 64, 24, 353, 21);
    label(QStringLiteral("Footer:"), gbPage, 16, 57);
    eFooter = new QLineEdit(gbPage);
    SetScaledGeometry(*eFooter, 64, 54, 353, 21);

    bOK = new QPushButton(QStringLiteral("&OK"), this);
    SetScaledGeometry(*bOK, 286, 244, 75, 25);
    bOK->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    SetScaledGeometry(*bCancel, 366, 244, 75, 25);

    label(QStringLiteral("Extract Type:"), this, 8, 249);
    cbTextType = new QComboBox(this); // a drop-down list: choosing only, no typing
    SetScaledGeometry(*cbTextType, 86, 245, 145, 22);
    cbTextType->addItems({QStringLiteral("In PDF Order"), QStringLiteral("Smart Rearrange"),
                          QStringLiteral("With Position"), QStringLiteral("Reading Order")});

    const QList<QAbstractButton*> filterItems = rgExtractItems->buttons();
    QWidget* order[] = {rbPRAll,        rbPRRange, eBegin,  eEnd, filterItems[0], filterItems[1],
                        filterItems[2], eFooter,   eHeader, bOK,  bCancel,        cbTextType};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    for (QLineEdit* edit : {eBegin, eEnd}) {
        edit->setValidator(new TRangeValidator(edit));
        edit->installEventFilter(this);
    }
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
    cbTextType->setCurrentIndex(textType < cbTextType->count() ? textType : -1);
}

bool TfrmOption::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == eBegin || watched == eEnd) && event->type() == QEvent::FocusIn)
        rbPRRange->setChecked(true);
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
