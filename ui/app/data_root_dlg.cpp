#include "ui/app/data_root_dlg.h"

#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths/data_root.h"

namespace qv {

namespace {

constexpr const char* kJoinPrefix = "Join the Group ";
// pkexec asks for the administrator's password; a user who walks away must not hang the start.
constexpr int kJoinTimeoutMs = 120000;

void JoinGroup(const QString& group) {
  const passwd* user = getpwuid(getuid());
  const QString name = user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QString();
  QProcess usermod;
  usermod.start("pkexec", {"usermod", "-aG", group, name});
  const bool done = !name.isEmpty() && usermod.waitForFinished(kJoinTimeoutMs) &&
                    usermod.exitStatus() == QProcess::NormalExit && usermod.exitCode() == 0;
  if (done) {
    QMessageBox::information(nullptr, "Quorvel",
                             "You are now a member of the group " + group +
                                 ". Log out and in again, then start Quorvel: it shows the service's messages.");
    return;
  }
  if (usermod.state() != QProcess::NotRunning) usermod.kill();
  QMessageBox::warning(nullptr, "Quorvel",
                       "Joining the group " + group + " did not work (" +
                           (usermod.error() == QProcess::FailedToStart ? QString("pkexec could not be run")
                                                                       : "pkexec or usermod refused") +
                           "). An administrator can add you with: sudo usermod -aG " + group + " " + name);
}

}  // namespace

std::unique_ptr<QMessageBox> MakeDataRootDialog(const QString& question, const QString& group) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, "Quorvel", question);
  if (!group.isEmpty()) box->addButton(kJoinPrefix + group, QMessageBox::ActionRole);
  box->addButton("Use My Own Data Folder", QMessageBox::AcceptRole);
  QPushButton* quit = box->addButton("Quit", QMessageBox::RejectRole);
  box->setDefaultButton(quit);
  box->setEscapeButton(quit);
  return box;
}

QString JoinableDataRootGroup() {
  struct stat info {};
  if (!IsSharedWithGroup(DataRoot()) || stat(DataRoot().c_str(), &info) != 0) return {};
  if (QStandardPaths::findExecutable("pkexec").isEmpty()) return {};
  const group* shared = getgrgid(info.st_gid);
  return shared != nullptr ? QString::fromLocal8Bit(shared->gr_name) : QString();
}

bool AskToUseOwnDataRoot(const std::string& question) {
  const QString group = JoinableDataRootGroup();
  const std::unique_ptr<QMessageBox> box = MakeDataRootDialog(QString::fromStdString(question), group);
  box->exec();
  if (box->buttonRole(box->clickedButton()) == QMessageBox::ActionRole) {
    JoinGroup(group);
    return false;
  }
  return box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
}

}  // namespace qv
