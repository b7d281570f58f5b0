// The rules' message boxes in the window: one at a time, topmost, closed by "msgboxtime", made on
// the user-interface thread whoever asks, and shown by a rule while reception goes on.

#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <thread>

#include "core/settings/settings_store.h"
#include "rules/actions/action_runner.h"
#include "rules/rule.h"
#include "testing/temp_home.h"
#include "ui/app/message_box_dlg.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/store_test_support.h"

namespace qv {

class MessageBoxTest : public QObject {
  Q_OBJECT

 private:
  qv::testing::TempHome home_;

 private slots:
  void aNewerBoxReplacesTheShownOne() {
    AppSettings().SetInt("Settings", "msgboxtime", 0);
    CWindowMessageBoxes boxes;
    boxes.ShowMessageBox("First rule", "first text");
    QPointer<CMessageBoxDlg> first = CWindowMessageBoxes::Current();
    QVERIFY(first != nullptr);
    QVERIFY(first->isVisible());
    QVERIFY(first->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!first->isModal());
    QCOMPARE(first->timeoutSeconds(), 0);

    boxes.ShowMessageBox("Second rule", "second text");
    QVERIFY(first.isNull());
    CMessageBoxDlg* second = CWindowMessageBoxes::Current();
    QCOMPARE(second->windowTitle(), QString("Second rule"));
    QCOMPARE(second->text(), QString("second text"));
    QTest::qWait(100);
    QVERIFY(second->isVisible());  // no timeout with "msgboxtime" 0
    second->accept();
    QVERIFY(!second->isVisible());
  }

  void msgboxtimeClosesTheBox() {
    AppSettings().SetInt("Settings", "msgboxtime", 1);
    CWindowMessageBoxes boxes;
    boxes.ShowMessageBox("Timed", "closes by itself");
    CMessageBoxDlg* box = CWindowMessageBoxes::Current();
    QCOMPARE(box->timeoutSeconds(), 1);
    QVERIFY(box->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!box->isVisible(), 3000);
  }

  void boxesAskedForOnAnotherThreadAppearOnTheWindowThread() {
    AppSettings().SetInt("Settings", "msgboxtime", 0);
    CWindowMessageBoxes boxes;
    std::thread other([&] { boxes.ShowMessageBox("From a thread", "text"); });
    other.join();
    QTRY_VERIFY(CWindowMessageBoxes::Current() != nullptr &&
                CWindowMessageBoxes::Current()->windowTitle() == "From a thread");
    QCOMPARE(CWindowMessageBoxes::Current()->thread(), qApp->thread());

    boxes.ShowUnknownRule("Odd rule");
    QMessageBox* unknown = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) unknown = box;
    }
    QVERIFY(unknown != nullptr);
    QCOMPARE(unknown->windowTitle(), QString("Unknown rule fired"));
    QCOMPARE(unknown->text(), QString("Odd rule"));
    unknown->close();
  }

  // A received message fires a "Message Box" rule of the viewer's own; the next datagram is
  // still stored while the box is open.
  void aRuleShowsItsBoxWhileReceptionGoesOn() {
    AppSettings().SetInt("Settings", "msgboxtime", 0);
    CRule rule;
    rule.Name = "Door sensor";
    rule.Action = kActionMessageBox;
    rule.ActionValue = "The door opened";
    rule.Message = "door";
    rule.Save(RuleSectionName(0));
    AppSettings().SetInt("Settings", "rulescount", 1);
    CQuorvelDoc doc(
        [](CSyslogSink&) -> std::unique_ptr<CActionExecutor> {
          return std::make_unique<CActionRunner>(std::make_unique<CWindowMessageBoxes>());
        },
        qv::testing::NoService());
    doc.ReloadRules();
    doc.OnDatagram("127.0.0.1", 40000, "<14>Jan  1 00:00:00 gate door open");
    CMessageBoxDlg* box = CWindowMessageBoxes::Current();
    QVERIFY(box != nullptr);
    QCOMPARE(box->windowTitle(), QString("Door sensor"));
    QCOMPARE(box->text(), QString("The door opened"));
    doc.OnDatagram("127.0.0.1", 40000, "<14>Jan  1 00:00:01 gate still open");
    QCOMPARE(doc.GetShownCount(), 2);
    QVERIFY(box->isVisible());
    box->accept();
  }
};

}  // namespace qv

QTEST_MAIN(qv::MessageBoxTest)
#include "message_box_dlg_test.moc"
