#pragma once
// Small services the desktop program's forms share: the application title, centring a form on
// its screen, the yes/no question, the standard error box, opening a file or address with its
// associated program, and the text input dialog.

#include <QString>

class QUrl;
class QWidget;

namespace tolvane {

// "Tolvane Text Extractor": the main window's caption and the caption of its message boxes.
const QString& ApplicationTitle();

// Moves the form so that it is centred on its screen (the primary one before it is shown).
void CenterOnScreen(QWidget& form);

// A Yes/No question with the question icon and the application title; true for Yes.
bool AskYesNo(const QString& text, QWidget* parent = nullptr);

// The standard error box: a critical message with the application title.
void ShowErrorBox(const QString& message, QWidget* parent = nullptr);

// Opens a local file, or an address with a scheme, with the program the desktop associates
// with it. Returns immediately; false when the desktop refused.
bool ShellOpen(const QString& fileOrAddress);

// Shows the input dialog modally; true when it closed with OK. `value` receives the edit box
// text in every case.
bool AskString(QString& value, const QString& prompt, const QString& initialText, bool hidden,
               const QString& caption, QWidget* parent = nullptr);

// The help page (the project's README) and the page of further tools (the command-line
// program's documentation): the installed copy when there is one, else the source tree's.
QUrl HelpAddress();
QUrl MoreToolsAddress();

} // namespace tolvane
