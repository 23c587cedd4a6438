#pragma once
// The option dialog: the page range (all pages or from / to), the page filter (all, odd, even),
// the header and footer lines and the text layout. It is filled from the settings when made;
// OK takes its values into the settings and saves them, Cancel takes nothing.

#include <QDialog>

#include <functional>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tolvane {

class TSettings;

class TfrmOption : public QDialog {
    Q_OBJECT
public:
    // Throws std::runtime_error ("INNER ERROR: ...") when the settings hold a range kind or a
    // page filter the dialog cannot show; the dialog is then not to be shown.
    explicit TfrmOption(TSettings& settings, QWidget* parent = nullptr);

    // Takes the values into the settings in a fixed order and saves them. A range edit that
    // holds no decimal integer stops it with "'text' is not a valid integer value" shown by
    // ShowError; what was taken before stays taken, nothing is saved and the dialog stays open.
    void bOKClick();
    void bCancelClick();

    // The standard error box; tests replace it.
    std::function<void(const QString& message)> ShowError;

    QGroupBox* gbPageRange;
    QRadioButton* rbPRAll;
    QRadioButton* rbPRRange;
    QLineEdit* eBegin;
    QLineEdit* eEnd;
    QGroupBox* rgExtract;
    QButtonGroup* rgExtractItems; // ids 0 all pages, 1 odd pages, 2 even pages
    QGroupBox* gbPage;
    QLineEdit* eHeader;
    QLineEdit* eFooter;
    QPushButton* bOK;
    QPushButton* bCancel;
    QComboBox* cbTextType;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fill();

    TSettings& FSettings;
};

} // namespace tolvane
