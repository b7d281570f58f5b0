#pragma once
// The file dialogs of "Export Settings..." and "Import Se&ttings...": default name
// "settings.txt", the filter "Text Files (*.txt)", the extension txt added to a name typed
// without one; export asks before overwriting, import wants an existing file.

#include <QString>

class QFileDialog;
class QWidget;

namespace qv {

// The configured dialog, not yet shown (the caller owns it).
QFileDialog* MakeSettingsFileDialog(QWidget* parent, bool forExport);
// Runs it; the chosen file, or empty when cancelled.
QString ChooseSettingsFile(QWidget* parent, bool forExport);

}  // namespace qv
