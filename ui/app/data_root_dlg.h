#pragma once
// The question of CDataRootChoice (a data root this user cannot use) as a message box: a
// warning with the question's text and the buttons "Use My Own Data Folder" and "Quit", the
// default and the answer to Escape. When the data root is shared with a group (the package's
// /var/lib/quorvel and its group quorvel) and pkexec is there, a third button, "Join the Group
// <group>", runs `pkexec usermod -aG <group> <user>` and says to log in again; the program then
// ends, since the membership counts only from the next login.

#include <QMessageBox>
#include <QString>

#include <memory>
#include <string>

namespace qv {

// `group` empty: no button to join one.
std::unique_ptr<QMessageBox> MakeDataRootDialog(const QString& question, const QString& group = {});

// The group that the data root is shared with, when joining it may help: the folder is shared
// with its group (mode 2770) and pkexec is on PATH. Empty otherwise.
QString JoinableDataRootGroup();

// Shows the box modally; true for "Use My Own Data Folder". Joining the group, whether it worked
// or not (said in a box of its own), answers false.
bool AskToUseOwnDataRoot(const std::string& question);

}  // namespace qv
