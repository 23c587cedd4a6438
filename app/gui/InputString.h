#pragma once
// The text input dialog: a prompt, one edit box (optionally showing "*" for every character)
// and the buttons "&Ok" (the default) and "&Cancel". Used for the password prompt.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tolvane {

class TFrmInputString : public QDialog {
    Q_OBJECT
public:
    TFrmInputString(const QString& prompt, const QString& initialText, bool hidden,
                    const QString& caption, QWidget* parent = nullptr);

    QLabel* lblMsg;
    QLineEdit* Edit1;
    QPushButton* bOk;
    QPushButton* bCancel;
};

} // namespace tolvane
