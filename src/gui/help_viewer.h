#pragma once
// The help pages that ship with the program, shown at their index or at a dialog's key.

#include <QString>

class QWidget;

namespace quarry::gui {

// Opens the help window at key ("index" for the index, "dlg_OPT" for a dialog's page).
void openHelpAt(QWidget* owner, const QString& key);
// The key the help window shows now, or an empty string when it is closed (for tests).
QString shownHelpKey();

}  // namespace quarry::gui
