#pragma once
// The question of CDataRootChoice (a data root this user cannot use) as a message box: a
// warning with the question's text and two buttons, "Use My Own Data Folder" and "Quit", the
// default and the answer to Escape.

#include <QMessageBox>
#include <QString>

#include <memory>
#include <string>

namespace qv {

std::unique_ptr<QMessageBox> MakeDataRootDialog(const QString& question);

// Shows the box modally; true for "Use My Own Data Folder".
bool AskToUseOwnDataRoot(const std::string& question);

}  // namespace qv
