#include "InputString.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "services.h"

namespace tolvane {

namespace {
constexpr int kClientWidth = 419;
constexpr int kClientHeight = 100;
} // namespace

TFrmInputString::TFrmInputString(const QString& prompt, const QString& initialText, bool hidden,
                                 const QString& caption, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(caption);
    setFixedSize(Scaled(kClientWidth), Scaled(kClientHeight)); // at the desktop's font

    lblMsg = new QLabel(prompt, this);
    lblMsg->setObjectName(QStringLiteral("lblMsg"));
    SetScaledGeometry(*lblMsg, 8, 8, kClientWidth - 16, 20);

    Edit1 = new QLineEdit(initialText, this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    SetScaledGeometry(*Edit1, 8, 32, 401, 21);
    if (hidden) {
        Edit1->setEchoMode(QLineEdit::Password);
        Edit1->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    }

    bOk = new QPushButton(QStringLiteral("&Ok"), this);
    bOk->setObjectName(QStringLiteral("bOk"));
    SetScaledGeometry(*bOk, 253, 66, 75, 25);
    bOk->setDefault(true);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);

    bCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    SetScaledGeometry(*bCancel, 334, 66, 75, 25);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

    QWidget::setTabOrder(Edit1, bOk);
    QWidget::setTabOrder(bOk, bCancel);
    Edit1->setFocus();
    CenterOnScreen(*this);
}

} // namespace tolvane
