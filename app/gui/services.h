#pragma once
// Small services the desktop program's forms share: the application title, centring a form on
// its screen, the yes/no question, the standard error box, opening a file or address with its
// associated program, and the text input dialog.

#include <QString>

#include <functional>

class QUrl;
class QWidget;

namespace tolvane {

// "Tolvane Text Extractor": the main window's caption and the caption of its message boxes.
const QString& ApplicationTitle();

// The window and its dialogs keep the application's font, which is the desktop's general font.
// How much larger than the 8-point face the forms were laid out for the desktop's font is
// (its line height over 13 pixels), never below 1: form sizes and positions are multiplied by it.
double FormScale();
// A length of the forms' layout at the desktop's font.
int Scaled(int length);

// Places a control at a position and size of the forms' layout, scaled.
void SetScaledGeometry(QWidget& control, int x, int y, int width, int height);

// Moves the form so that it is centred on its screen (the primary one before it is shown).
void CenterOnScreen(QWidget& form);

// A Yes/No question with the question icon and the application title; true for Yes.
bool AskYesNo(const QString& text, QWidget* parent = nullptr);

// The standard error box: a critical message with the application title.
void ShowErrorBox(const QString& message, QWidget* parent = nullptr);

// Opens a local file, or an address with a scheme, with the program the desktop associates
// with it. Returns at once; when the desktop's opener fails (it cannot start, or exits with an
// error, as xdg-open does when no program takes the file), `failed` is called later with a
// message saying so.
void ShellOpen(const QString& fileOrAddress,
               std::function<void(const QString& message)> failed = {});

// Shows the input dialog modally; true when it closed with OK. `value` receives the edit box
// text in every case.
bool AskString(QString& value, const QString& prompt, const QString& initialText, bool hidden,
               const QString& caption, QWidget* parent = nullptr);

// The help page (the project's README as HTML) and the page of further tools (a page leading
// to its command-line section), found beside the program (bin/../share/doc/...), which holds
// for the build tree and the installed one; else the source tree's README.
QUrl HelpAddress();
QUrl MoreToolsAddress();

} // namespace tolvane
