#pragma once
// Helpers shared by the desktop program's tests.

#include <QSettings>
#include <QString>
#include <QWidget>

#include <vector>

namespace tolvane_gui_test {

// The stored settings (in the tests' temporary settings folder) are removed.
inline void ClearStoredSettings() {
    QSettings store(QStringLiteral("Tolvane"), QStringLiteral("TextExtractor"));
    store.clear();
    store.sync();
}

// The names of the stored settings values.
inline QStringList StoredSettingNames() {
    QSettings store(QStringLiteral("Tolvane"), QStringLiteral("TextExtractor"));
    store.beginGroup(QStringLiteral("Setting"));
    return store.childKeys();
}

// The widgets that Tab visits, in order, starting at `first` (which must take Tab focus).
inline std::vector<QWidget*> TabOrder(QWidget* first) {
    std::vector<QWidget*> order{first};
    for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isEnabled())
            order.push_back(w);
    return order;
}

} // namespace tolvane_gui_test
