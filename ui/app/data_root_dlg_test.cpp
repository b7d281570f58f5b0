// A data root this user cannot use, at the program's start: the question box and what the
// program does with each answer.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/paths/data_root.h"
#include "testing/temp_home.h"
#include "ui/app/data_root_dlg.h"
#include "ui/app/main_frame.h"
#include "ui/app/quorvel_app.h"
#include "ui/store/store_test_support.h"

namespace qv {

class DataRootDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void theBoxOffersTheOwnFolderAndQuitsByDefault() {
    const std::unique_ptr<QMessageBox> box = MakeDataRootDialog("/var/lib/quorvel cannot be used by this user");
    QStringList buttons;
    for (const QAbstractButton* button : box->buttons()) buttons << button->text();
    buttons.sort();
    QCOMPARE(buttons, QStringList({"Quit", "Use My Own Data Folder"}));
    QCOMPARE(box->defaultButton()->text(), QString("Quit"));
    QCOMPARE(box->escapeButton()->text(), QString("Quit"));
    QCOMPARE(box->icon(), QMessageBox::Warning);

    // Shown for real: each answer as the user gives it.
    for (const QString& answer : {QString("Use My Own Data Folder"), QString("Quit")}) {
      QTimer::singleShot(0, [answer] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (shown == nullptr) return;
        for (QAbstractButton* button : shown->buttons()) {
          if (button->text() == answer) button->click();
        }
      });
      QCOMPARE(AskToUseOwnDataRoot("question"), answer != "Quit");
    }
  }

  // A data root shared with a group offers to join it through pkexec (here a stand-in that
  // records its arguments); joining ends the start, having said to log in again.
  void aSharedDataRootOffersToJoinItsGroup() {
    testing::TempHome shared;
    testing::TempHome tools;
    const std::string root = shared.path().string();
    const std::string savedPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    const std::string fake = tools.file("pkexec");
    std::ofstream(fake) << "#!/bin/sh\necho \"$@\" > " << tools.file("args") << "\n";
    QVERIFY(chmod(fake.c_str(), 0755) == 0);
    setenv("PATH", (tools.path().string() + ":" + savedPath).c_str(), 1);
    const group* own = getgrgid(getgid());
    QVERIFY(own != nullptr);

    setenv("QUORVEL_HOME", root.c_str(), 1);
    QCOMPARE(JoinableDataRootGroup(), QString());  // a private folder: no group to join
    QVERIFY(chmod(root.c_str(), 02770) == 0);
    const QString group = JoinableDataRootGroup();
    QCOMPARE(group, QString::fromLocal8Bit(own->gr_name));

    QStringList buttons;
    const std::unique_ptr<QMessageBox> box = MakeDataRootDialog("question", group);
    for (const QAbstractButton* button : box->buttons()) buttons << button->text();
    buttons.sort();
    QCOMPARE(buttons, QStringList({"Join the Group " + group, "Quit", "Use My Own Data Folder"}));

    QStringList seen;  // the question, then the box that says what joining did
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
      auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (shown == nullptr) return;
      seen << shown->text();
      for (QAbstractButton* button : shown->buttons()) {
        if (button->text().startsWith("Join") || shown->buttons().size() == 1) {
          button->click();
          return;
        }
      }
    });
    clicker.start(10);
    QVERIFY(!AskToUseOwnDataRoot("question"));
    clicker.stop();
    setenv("PATH", savedPath.c_str(), 1);
    QCOMPARE(seen.size(), 2);
    QVERIFY2(seen[1].contains("Log out and in again"), qPrintable(seen[1]));
    std::ifstream args(tools.file("args"));
    std::string line;
    std::getline(args, line);
    QCOMPARE(QString::fromStdString(line),
             "usermod -aG " + group + " " + QString::fromLocal8Bit(getpwuid(getuid())->pw_name));
  }

  void theProgramRunsOnTheOwnFolderOnlyWhenTheUserSaysSo() {
    testing::TempHome user;
    testing::TempHome shared;
    setenv("XDG_DATA_HOME", user.file("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", user.file("config").c_str(), 1);
    const std::string root = shared.path().string();
    QVERIFY(chmod(root.c_str(), 0777) == 0);  // refused to every user, root too
    for (const bool yes : {false, true}) {
      setenv("QUORVEL_HOME", root.c_str(), 1);
      CQuorvelApp::Options options;
      options.service = testing::NoService();
      options.askRunAsService = [] { return false; };
      int failures = 0;
      options.reportFailure = [&](const QString&) { ++failures; };
      options.askOwnDataRoot = [yes](const std::string&) { return yes; };
      CQuorvelApp app(std::move(options));
      QCOMPARE(app.InitInstance({}), yes);
      QCOMPARE(failures, 0);  // a no was the user's own: nothing more to say
      QCOMPARE(DataRoot(), yes ? user.file("data") + "/quorvel" : root);
    }
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
  }
};

}  // namespace qv

QTEST_MAIN(qv::DataRootDialogTest)
#include "data_root_dlg_test.moc"
