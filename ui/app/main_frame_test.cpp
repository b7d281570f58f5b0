// The main frame and the program's start without a display: the command table in the menus and
// toolbar, the count text and the lock, the refresh of the views, the pane sizes, the monitor and
// rule switches, dropped files, the time mark, "hideifmini" without a tray, and start-up.

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QHeaderView>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardPaths>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/app/about_dlg.h"
#include "ui/app/help_topics_dlg.h"
#include "ui/app/main_frame.h"
#include "ui/app/pane_fonts.h"
#include "ui/app/view_options_dlg.h"
#include "ui/app/quorvel_app.h"
#include "ui/findview/find_dialog.h"
#include "ui/findview/left_view.h"
#include "ui/findview/status_panel.h"
#include "ui/findview/log_text_view.h"
#include "ui/findview/match_fields_group.h"
#include "ui/findview/quick_filter_field.h"
#include "ui/frame/frame_commands.h"
#include "ui/model/message_list_model.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

SyslogMessage Record(const std::string& text, int32_t severity = 3) {
  SyslogMessage record;
  record.severity = severity;
  record.facility = 1;
  record.hostName = "host";
  record.ipAddress = "127.0.0.1";
  record.timeReceived = 1700000000;
  record.timeSent = 1700000000;
  record.message = text;
  return record;
}

// Answers the next message box once it is shown (the event loop of its exec() runs this).
void AnswerNextQuestion(const std::function<void(QMessageBox&)>& answer) {
  QTimer::singleShot(10, [answer] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box != nullptr) {
      answer(*box);
    } else {
      AnswerNextQuestion(answer);
    }
  });
}

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

class MainFrameTest : public QObject {
  Q_OBJECT

 private:
  qv::testing::TempHome home_;
  std::unique_ptr<CQuorvelDoc> doc_;
  std::unique_ptr<CMainFrame> frame_;
  qv::testing::FakeService* service_ = nullptr;

  void Set(const char* name, int32_t value) { AppSettings().SetInt("Settings", name, value); }

 private slots:
  void init() {
    // Nothing listens or loads history: the tests feed the document directly.
    Set("startserver", 0);
    Set("loadhistory", 0);
    auto service = qv::testing::NoService();
    service_ = service.get();
    doc_ = std::make_unique<CQuorvelDoc>(CQuorvelDoc::ExecutorFactory{}, std::move(service));
    frame_ = std::make_unique<CMainFrame>(*doc_);
    doc_->NewDocument();
    frame_->MessageList()->OnInitialUpdate();
    frame_->UpdateAllViews();
  }

  void cleanup() {
    frame_.reset();
    doc_.reset();
  }

  // The full-text pane keeps the height it was dragged to through resizes, and the next frame
  // starts with it.
  void fullTextPaneHeightIsKeptAndRemembered() {
    frame_->ActivateFrame();
    frame_->resize(1000, 700);
    QVERIFY(qAbs(frame_->FullText()->height() - 50) <= 8);  // the default, give or take the splitters' rounding
    auto* right = qobject_cast<QSplitter*>(frame_->FullText()->parentWidget());
    QVERIFY(right != nullptr);
    const int total = right->sizes().value(0) + right->sizes().value(1);
    right->setSizes({total - 140, 140});  // as a drag of the handle leaves it
    emit right->splitterMoved(total - 140, 1);
    frame_->resize(1000, 800);
    QVERIFY2(qAbs(frame_->FullText()->height() - 140) <= 8, qPrintable(QString::number(frame_->FullText()->height())));
    frame_->SavePlacement();
    QCOMPARE(AppSettings().GetInt("Window size", "textheight", 0), 140);

    CMainFrame next(*doc_);
    next.ActivateFrame();
    next.resize(1000, 700);
    QVERIFY2(qAbs(next.FullText()->height() - 140) <= 8, qPrintable(QString::number(next.FullText()->height())));
  }

  void commandsFollowTheTable() {
    for (const FrameCommand& command : FrameCommands()) {
      QAction* action = frame_->Action(command.id);
      QVERIFY2(action != nullptr, qPrintable(QString::number(command.id)));
      QCOMPARE(action->text(), Text(command.caption));
      QCOMPARE(action->statusTip(), Text(command.prompt));
      if (!command.shortcut.empty()) QCOMPARE(action->shortcut(), QKeySequence(Text(command.shortcut)));
    }
    QVERIFY(frame_->Action(kCmdHelpTopics)->isEnabled());
    QVERIFY(frame_->Action(kCmdCopy)->shortcuts().contains(QKeySequence("Ctrl+Insert")));

    QStringList menus;
    for (const QAction* menu : frame_->menuBar()->actions()) menus << menu->text();
    QCOMPARE(menus, QStringList({"&File", "&Edit", "&View", "&Rules", "&Monitors", "&Help"}));

    const auto* toolBar = frame_->findChild<QToolBar*>("Toolbar");
    QVERIFY(toolBar != nullptr);
    QStringList buttons;
    for (const QAction* action : toolBar->actions()) buttons << (action->isSeparator() ? "|" : QString::number(action->data().toInt()));
    QCOMPARE(buttons.join(' '), QString("57600 57601 57603 | 32803 57634 | 32799 | 57664 32771 32773 32805 32807"));

    // Without listening or an installed service: both starts (the service's says how to install
    // it), no stop.
    QVERIFY(frame_->Action(kCmdStartListening)->isEnabled());
    QVERIFY(!frame_->Action(kCmdStopListening)->isEnabled());
    QVERIFY(frame_->Action(kCmdStartService)->isEnabled());
    QVERIFY(!frame_->Action(kCmdStopService)->isEnabled());
    // Export needs a shown message.
    QVERIFY(!frame_->Action(kCmdExport)->isEnabled());
    doc_->AddMessage(Record("one"), false);
    frame_->UpdateAllViews();
    QVERIFY(frame_->Action(kCmdExport)->isEnabled());
  }

  void countTextLockAndOneUpdatePerBurst() {
    QCOMPARE(frame_->CountText(), QString("0 Entries"));
    CMessageListModel& model = frame_->MessageList()->Model();
    for (int i = 0; i < 1000; ++i) doc_->AddMessage(Record("burst " + std::to_string(i)), true);
    // Nothing is shown before the refresh is due, then all of it at once.
    QCOMPARE(model.rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(frame_->CountText(), QString("1000 Entries"), 2000);
    QCOMPARE(model.rowCount(), 1000);

    frame_->Action(kCmdLock)->trigger();
    QCOMPARE(frame_->CountText(), QString("1000 Entries (locked)"));
    QVERIFY(frame_->Action(kCmdLock)->isChecked());
    doc_->AddMessage(Record("while locked"), true);
    QTRY_COMPARE_WITH_TIMEOUT(frame_->CountText(), QString("1001 Entries (locked)"), 2000);
    QCOMPARE(model.rowCount(), 1000);  // the list stands still
    frame_->Action(kCmdLock)->trigger();
    QCOMPARE(frame_->CountText(), QString("1001 Entries"));
    QCOMPARE(model.rowCount(), 1001);

    frame_->Action(kCmdNew)->trigger();
    QCOMPARE(frame_->CountText(), QString("0 Entries"));
    doc_->AddMessage(Record("single"), false);
    frame_->UpdateAllViews();
    QCOMPARE(frame_->CountText(), QString("1 Entry"));
  }

  // The status bar says when the list has stopped following, the lock hides that, and a click on
  // it goes back to the newest.
  void pausedFollowingIsShownAndClickedAway() {
    for (int i = 0; i < 10; ++i) doc_->AddMessage(Record("first"), false);
    frame_->UpdateAllViews();
    QCOMPARE(frame_->FollowText(), QString());
    frame_->MessageList()->SelectMessage(ShownPosition(2));
    QCOMPARE(frame_->FollowText(), QString("Paused, 0 new"));
    for (int i = 0; i < 3; ++i) doc_->AddMessage(Record("later"), false);
    frame_->UpdateAllViews();
    QCOMPARE(frame_->FollowText(), QString("Paused, 3 new"));
    frame_->Action(kCmdLock)->trigger();
    QCOMPARE(frame_->FollowText(), QString());
    frame_->Action(kCmdLock)->trigger();
    QCOMPARE(frame_->FollowText(), QString("Paused, 3 new"));
    frame_->FollowButton()->click();
    QCOMPARE(frame_->FollowText(), QString());
    QVERIFY(frame_->MessageList()->Following().IsFollowing());
  }

  // The search field above the list narrows it as one types, over text, host and address, within
  // the tree's filter; Ctrl+L reaches it and Escape clears it.
  void quickFilterNarrowsWithinTheTreesFilter() {
    const struct {
      const char* text;
      const char* host;
      int32_t severity;
    } records[] = {{"disk full", "nas", 3}, {"link down", "gateway", 3}, {"disk ok", "nas", 6}, {"fan", "disk-shelf", 2}};
    for (const auto& r : records) {
      SyslogMessage record = Record(r.text, r.severity);
      record.hostName = r.host;
      doc_->AddMessage(record, false);
    }
    frame_->UpdateAllViews();
    frame_->show();
    QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
    frame_->MessageList()->setFocus();
    QTest::keyClick(frame_.get(), Qt::Key_L, Qt::ControlModifier);
    QTRY_VERIFY(frame_->QuickFilter()->hasFocus());

    CMessageListModel& model = frame_->MessageList()->Model();
    const auto shown = [&model] {
      QStringList texts;
      for (int row = 0; row < model.rowCount(); ++row) texts << model.index(row, 4).data().toString();
      return texts;
    };
    QTest::keyClicks(frame_->QuickFilter(), "DISK");
    QTRY_COMPARE(shown(), QStringList({"disk full", "disk ok", "fan"}));  // "fan" by its host
    QCOMPARE(frame_->CountText(), QString("3 Entries (Filter active)"));
    CRule errors;
    errors.Severity = 11;  // "Error or Higher"
    frame_->MessageList()->ApplyFilter(errors);
    QCOMPARE(shown(), QStringList({"disk full", "fan"}));
    QTest::keyClick(frame_->QuickFilter(), Qt::Key_Escape);
    QTRY_COMPARE(shown(), QStringList({"disk full", "link down", "fan"}));
    QCOMPARE(frame_->QuickFilter()->text(), QString());
    frame_->MessageList()->ShowAll();
    QCOMPARE(shown().size(), 4);
    QCOMPARE(frame_->CountText(), QString("4 Entries"));
  }

  // "Find Messages" on a row (the list's context menu or double-click, the graph's double-click)
  // opens Find with the row's host name and severity; Edit Find keeps what was there.
  void findMessagesStartsFromTheSelectedRow() {
    SyslogMessage record = Record("disk", 4);
    record.hostName = "nas";
    doc_->AddMessage(Record("first"), false);
    doc_->AddMessage(record, false);
    frame_->UpdateAllViews();
    frame_->MessageList()->SelectMessage(ShownPosition(1));
    emit frame_->MessageList()->findRequested();
    QVERIFY(frame_->FindDialog() != nullptr && frame_->FindDialog()->isVisible());
    QCOMPARE(frame_->FindDialog()->Match()->Fields().hostName, std::string("nas"));
    QCOMPARE(frame_->FindDialog()->Match()->Fields().severityIndex, 5);
    frame_->MessageList()->SelectMessage(ShownPosition(0));
    frame_->Action(kCmdFind)->trigger();
    QCOMPARE(frame_->FindDialog()->Match()->Fields().hostName, std::string("nas"));
    emit frame_->ActivityGraph()->findRequested();
    QCOMPARE(frame_->FindDialog()->Match()->Fields().hostName, std::string("host"));
  }

  // The title names the live list "Quorvel" and a document its file; only the user's own changes
  // mark it modified, and Save As proposes the documents folder for the live list.
  void titleNamesTheDocumentAndItsChanges() {
    QCOMPARE(frame_->windowTitle(), QString("Quorvel[*]"));
    doc_->AddMessage(Record("arrived"), false);
    QVERIFY(!frame_->isWindowModified());
    QCOMPARE(QFileInfo(frame_->ProposedSavePath()).absolutePath(),
             QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).absolutePath());
    QVERIFY(frame_->ProposedSavePath().endsWith(QString::fromStdString(doc_->Title()) + ".txt"));
    doc_->ToggleHighlight(ShownPosition(0));
    QVERIFY(frame_->isWindowModified());
    const std::string path = home_.file("kept.txt");
    QVERIFY(doc_->SaveDocument(path));
    QCOMPARE(frame_->windowTitle(), QString("kept.txt[*] - Quorvel"));
    QVERIFY(!frame_->isWindowModified());
    QCOMPARE(frame_->ProposedSavePath(), QString::fromStdString(path));
    QVERIFY(doc_->OpenDocument(path));
    QCOMPARE(frame_->windowTitle(), QString("kept.txt[*] - Quorvel"));
    QVERIFY(!frame_->isWindowModified());
    frame_->Action(kCmdNew)->trigger();
    QCOMPARE(frame_->windowTitle(), QString("Quorvel[*]"));
  }

  void loadHistoryIsEnabledAgainByFileNew() {
    frame_->SetHistoryLoadable(false);
    QVERIFY(!frame_->Action(kCmdLoadHistory)->isEnabled());
    frame_->Action(kCmdNew)->trigger();
    QVERIFY(frame_->Action(kCmdLoadHistory)->isEnabled());
  }

  void clearHistoryAsksFirstAndEnterAnswersNo() {
    const std::string history = home_.file("qvhista.txt");
    std::ofstream(history) << Record("kept").FormatRecordLine();
    for (const bool yes : {false, true}) {
      QMessageBox::StandardButton preset = QMessageBox::NoButton;
      AnswerNextQuestion([&](QMessageBox& box) {
        preset = box.standardButton(box.defaultButton());
        if (yes) {
          box.button(QMessageBox::Yes)->click();
        } else {
          QTest::keyClick(&box, Qt::Key_Return);
        }
      });
      frame_->Action(kCmdClearHistory)->trigger();
      QCOMPARE(preset, QMessageBox::No);
      QCOMPARE(std::filesystem::exists(history), !yes);
    }
  }

  // A document of 100,000 distinct senders: each learned branch of the tree lists 10,000 in
  // order, each with its count, and "(more...)", and File New empties them.
  void documentOfManySendersFillsTheTreeUpToItsCap() {
    const std::string path = home_.file("senders.txt");
    {
      std::ofstream out(path, std::ios::binary);
      for (int i = 0; i < 100000; ++i) {
        SyslogMessage record = Record("m");
        record.hostName = "host-" + std::to_string(i);
        record.ipAddress = "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                           std::to_string(i & 255);
        out << record.FormatRecordLine();
      }
    }
    QVERIFY(frame_->OpenDocumentFile(QString::fromStdString(path)));
    QCOMPARE(doc_->GetShownCount(), 100000);
    for (const FilterBranch branch : {FilterBranch::kHostname, FilterBranch::kAddress}) {
      const QTreeWidgetItem* item = frame_->FilterTree()->BranchItem(branch);
      QCOMPARE(item->childCount(), 10001);
      const QString last = branch == FilterBranch::kHostname ? QString("host-9999 (1)") : QString("10.0.39.15 (1)");
      QCOMPARE(item->child(9999)->text(0), last);
      QCOMPARE(item->child(10000)->text(0), QString("(more...)"));
    }
    frame_->Action(kCmdNew)->trigger();
    for (const FilterBranch branch : {FilterBranch::kHostname, FilterBranch::kAddress}) {
      QCOMPARE(frame_->FilterTree()->BranchItem(branch)->childCount(), 0);
    }
  }

  // Once the full ring turns under a locked display, rows and shown positions differ: a selected
  // row must mean the message it shows in every pane (list, "Message" cell colours, full text,
  // the graph's red line, Find and the centre of a time filter), and nothing where its message
  // has left the ring.
  void lockedRowsMeanTheirOwnMessageInEveryPane() {
    Set("maxsize", 5);
    AppSettings().SetString("Highlights\\highlight0", "string", "message 4");
    AppSettings().SetInt("Highlights\\highlight0", "bg", 0x0000FF);  // red
    Set("hlcount", 1);
    doc_->NewDocument();
    CQuorvelView& list = *frame_->MessageList();
    list.ReloadHighlights();
    auto add = [&](int from, int to) {
      for (int n = from; n <= to; ++n) {
        SyslogMessage record = Record("message " + std::to_string(n));
        record.hostName = "host-" + std::to_string(n);
        record.timeReceived = 1700000000 + 100 * n;
        doc_->AddMessage(record, false);
      }
      frame_->UpdateAllViews();
    };
    add(0, 4);
    frame_->Action(kCmdLock)->trigger();
    add(5, 7);  // the ring now holds messages 3 to 7; the rows still show 0 to 4
    QCOMPARE(list.Model().rowCount(), 5);

    for (int row = 0; row < 5; ++row) {
      const bool held = row >= 3;
      const QString expected = held ? QString("message %1").arg(row) : QString();
      list.selectRow(row);
      QCOMPARE(list.Model().index(row, 4).data().toString(), expected);
      QCOMPARE(list.MessageCellColours(ListRow(row)).has_value(), row == 4);
      frame_->ActivityGraph()->resize(500, 60);
      const QImage graph = frame_->ActivityGraph()->grab().toImage();  // paints, and fills the full text
      QCOMPARE(frame_->FullText()->toPlainText(), expected);
      const QRect plot = frame_->ActivityGraph()->PlotRect();
      std::optional<int> red;
      for (int x = 0; x < graph.width() && !red; ++x) {
        if (graph.pixelColor(x, plot.center().y()) == QColor(255, 0, 0)) red = x - plot.left();
      }
      const std::optional<int32_t> time = list.SelectedTimeReceived();  // a time filter's centre
      QCOMPARE(time.has_value(), held);
      QCOMPARE(red.has_value(), held);
      CFindDialog find(list);
      QCOMPARE(find.CurrentTexts()[2], held ? QString("host-%1").arg(row) : QString());
      if (!held) continue;
      QCOMPARE(*time, 1700000000 + 100 * row);
      QCOMPARE(red, frame_->ActivityGraph()->Graph().XOf(*time));
    }
    // Find Next from the row of message 3 goes to the row of message 4, not past the rows.
    list.selectRow(3);
    CFindDialog find(list);
    QVERIFY(find.Find(true));
    QCOMPARE(list.currentIndex().row(), 4);
    QCOMPARE(find.CurrentTexts()[2], QString("host-4"));

    frame_->Action(kCmdLock)->trigger();
    Set("hlcount", 0);
    AppSettings().SetString("Settings", "maxsize", nullptr);
  }

  void panesKeepTheirSizesOnResize() {
    frame_->resize(1000, 700);
    frame_->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
    frame_->resize(1000, 800);
    QTRY_COMPARE(frame_->ActivityGraph()->height(), 175);
    QCOMPARE(frame_->UpperSplitter()->sizes().front(), std::max(200, frame_->FilterTree()->WidthForFixedEntries()));
    QVERIFY(frame_->FullText()->height() >= 50);
    // The user's dragging lasts only until the next resize.
    frame_->OuterSplitter()->setSizes({300, 300});
    frame_->resize(1000, 790);
    QTRY_COMPARE(frame_->ActivityGraph()->height(), 175);
    frame_->hide();
  }

  // "Font size" in View Options sizes the list, the tree and the full-text pane and is stored;
  // a new frame takes it up; "Default" gives each pane its own size back.
  void fontSizeSetsTheListTreeAndFullTextPanes() {
    QWidget* const panes[] = {frame_->MessageList(), frame_->FilterTree(), frame_->FullText()};
    std::vector<double> own;
    for (QWidget* pane : panes) own.push_back(pane->font().pointSizeF());
    const int rowHeight = frame_->MessageList()->verticalHeader()->defaultSectionSize();
    const auto chooseFontSize = [](int value) {
      QTimer::singleShot(0, [value] {
        auto* dialog = qobject_cast<CViewOptionsDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        dialog->findChild<QSpinBox*>("fontSize")->setValue(value);
        dialog->accept();
      });
    };
    chooseFontSize(20);
    frame_->Action(kCmdViewOptions)->trigger();
    QCOMPARE(AppSettings().GetInt("Settings", "fontsize", 0), 20);
    for (QWidget* pane : panes) QCOMPARE(pane->font().pointSizeF(), 20.0);
    QVERIFY(frame_->MessageList()->verticalHeader()->defaultSectionSize() > rowHeight);  // the rows grow with it

    frame_.reset();  // the next start
    frame_ = std::make_unique<CMainFrame>(*doc_);
    QWidget* const again[] = {frame_->MessageList(), frame_->FilterTree(), frame_->FullText()};
    for (QWidget* pane : again) QCOMPARE(pane->font().pointSizeF(), 20.0);

    chooseFontSize(kSmallestFontSize - 1);  // "Default"
    frame_->Action(kCmdViewOptions)->trigger();
    QCOMPARE(AppSettings().GetInt("Settings", "fontsize", -1), 0);
    for (std::size_t i = 0; i < std::size(again); ++i) QCOMPARE(again[i]->font().pointSizeF(), own[i]);
    QCOMPARE(frame_->MessageList()->verticalHeader()->defaultSectionSize(), rowHeight);
  }

  void rulesAndMonitorSwitchesWriteTheirSettings() {
    const CSettingsStore& settings = AppSettings();
    // Absent "EventLog" counts as on; the others, "SNMPTrapMonitor" too, as off, as the
    // document reads them when it starts its monitors.
    frame_->UpdateCommandStates();
    QVERIFY(!frame_->Action(kCmdSnmpTraps)->isChecked());
    QVERIFY(frame_->Action(kCmdEventLog)->isChecked());
    QVERIFY(!frame_->Action(kCmdPingMonitor)->isChecked());
    frame_->Action(kCmdSnmpTraps)->trigger();
    QCOMPARE(settings.GetInt("Settings", "SNMPTrapMonitor", -1), 1);
    QVERIFY(frame_->Action(kCmdSnmpTraps)->isChecked());
    frame_->Action(kCmdSnmpTraps)->trigger();
    QCOMPARE(settings.GetInt("Settings", "SNMPTrapMonitor", -1), 0);
    frame_->Action(kCmdPingMonitor)->trigger();
    QCOMPARE(settings.GetInt("Settings", "PingMonitor", -1), 1);
    QVERIFY(frame_->Action(kCmdPingMonitor)->isChecked());

    const bool enabled = doc_->RulesEnabled();
    frame_->Action(kCmdRulesEnabled)->trigger();
    QCOMPARE(doc_->RulesEnabled(), !enabled);
    QCOMPARE(settings.GetInt("Settings", "RulesEnabled", -1), enabled ? 0 : 1);
    frame_->Action(kCmdFirstRuleOnly)->trigger();
    QVERIFY(doc_->RulesEngine().FirstRuleOnly());
    QCOMPARE(settings.GetInt("Settings", "FirstRuleOnly", -1), 1);
    QVERIFY(!frame_->Action(kCmdAllMatchingRules)->isChecked());
    frame_->Action(kCmdAllMatchingRules)->trigger();
    QVERIFY(!doc_->RulesEngine().FirstRuleOnly());
    QCOMPARE(settings.GetInt("Settings", "FirstRuleOnly", -1), 0);
    // The service is not installed: nothing was restarted.
    QCOMPARE(service_->starts + service_->stops, 0);
  }

  void droppedFilesAreAllKept() {
    QList<QUrl> urls;
    for (int file = 0; file < 3; ++file) {
      const std::string path = home_.file("dropped" + std::to_string(file) + ".txt");
      std::ofstream out(path, std::ios::binary);
      for (int line = 0; line < 2; ++line) out << Record("file " + std::to_string(file)).FormatRecordLine();
      urls << QUrl::fromLocalFile(QString::fromStdString(path));
    }
    doc_->AddMessage(Record("replaced by the first file"), false);
    frame_->OpenDroppedFiles(urls);
    QCOMPARE(doc_->GetShownCount(), 6);
    QCOMPARE(frame_->CountText(), QString("6 Entries"));
  }

  void timeMarkFollowsItsSetting() {
    Set("timemark", 0);
    frame_->StartTimeMark();
    QVERIFY(!frame_->TimeMarkRunning());
    Set("timemark", 1);
    frame_->StartTimeMark();
    QVERIFY(frame_->TimeMarkRunning());
    Set("timemark", 60000);  // past the 32-bit milliseconds of a QTimer
    frame_->StartTimeMark();
    QVERIFY(frame_->TimeMarkRunning());
    QVERIFY(frame_->TimeMarkPeriod() == std::chrono::minutes(60000));
    frame_->StopTimeMark();
    QVERIFY(!frame_->TimeMarkRunning());
    frame_->AddTimeMark();
    QCOMPARE(doc_->GetShownCount(), 1);
    QCOMPARE(doc_->GetMessage(ShownPosition(0)).message, std::string("-----Time Mark-----"));
    Set("timemark", 0);
  }

  void minimisingWithoutATrayKeepsTheWindowReachable() {
    frame_->SetHideWhenMinimised(true);
    QVERIFY(!frame_->HidesWhenMinimised() || frame_->TrayIcon() != nullptr);
    if (frame_->TrayIcon() != nullptr) QSKIP("this desktop has a tray");
    frame_->show();
    frame_->showMinimized();
    QTest::qWait(50);
    QVERIFY(frame_->isVisible());
    frame_->hide();
  }

  void aboutBoxSaysTheVersion() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QString("About Quorvel"));
    const auto* text = about.findChild<QLabel*>("AboutText");
    QVERIFY(text != nullptr);
    QCOMPARE(text->text(), QString("Quorvel version 1.8"));
  }

  // Start-up: the first run asks only when the service is installed, and only once; a file on
  // the command line becomes the document; without a tray "hideifmini" still shows the window.
  // Help Topics names every command under its menu (or the toolbar, or the list's context menu)
  // with its keys and a description, so no command is left unexplained.
  void helpTopicsExplainEveryCommand() {
    CHelpTopicsDlg help;
    const QTreeWidget& topics = *help.Topics();
    QCOMPARE(topics.topLevelItem(0)->text(0), QString("The main window"));
    QCOMPARE(topics.topLevelItem(0)->childCount(), 5);
    const QList<QTreeWidgetItem*> quick = topics.findItems("Quick filter", Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY(!quick.isEmpty() && quick.front()->text(2).contains("Ctrl+L"));
    int commands = 0;
    for (int t = 1; t < topics.topLevelItemCount(); ++t) {
      const QTreeWidgetItem* topic = topics.topLevelItem(t);
      for (int c = 0; c < topic->childCount(); ++c) {
        QVERIFY2(!topic->child(c)->text(2).isEmpty(), qPrintable(topic->child(c)->text(0)));
        ++commands;
      }
    }
    QCOMPARE(commands, static_cast<int>(FrameCommands().size() + ListContextCommands().size()));
    const QTreeWidgetItem* view = topics.findItems("View menu", Qt::MatchExactly).value(0);
    QVERIFY(view != nullptr);
    const QList<QTreeWidgetItem*> find = topics.findItems("Find...", Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY(!find.isEmpty());
    QCOMPARE(find.front()->text(1), QString("Ctrl+F"));
  }

  void startUp() {
    cleanup();
    AppSettings().SetString("Settings", "FirstTime", nullptr);
    Set("hideifmini", 1);
    const std::string path = home_.file("opened.txt");
    {
      std::ofstream out(path, std::ios::binary);
      for (int line = 0; line < 3; ++line) out << Record("opened " + std::to_string(line)).FormatRecordLine();
    }
    int questions = 0;
    bool visible = false;
    int shown = 0;
    auto run = [&](bool installed, const QStringList& arguments, bool* started, int* demandStarts) -> bool {
      CQuorvelApp::Options options;
      auto service = std::make_unique<qv::testing::FakeService>();
      service->installed = installed;
      service->running = false;  // a running service is not asked about
      auto* watched = service.get();
      options.service = std::move(service);
      options.askRunAsService = [&] {
        ++questions;
        return false;
      };
      options.reportFailure = [](const QString& text) { qWarning("%s", qPrintable(text)); };
      auto app = std::make_unique<CQuorvelApp>(std::move(options));
      const bool ok = app->InitInstance(arguments);
      if (started != nullptr) *started = watched->running;
      if (demandStarts != nullptr) *demandStarts = watched->demandStarts;
      visible = ok && app->Frame()->isVisible();
      shown = ok ? app->Document()->GetShownCount() : -1;
      return ok;
    };
    bool running = true;
    int demandStarts = 0;
    QVERIFY(run(true, {QString::fromStdString(path)}, &running, &demandStarts));
    QCOMPARE(questions, 1);
    QVERIFY(visible);  // "hideifmini" without a tray: the window must stay reachable
    QCOMPARE(shown, 3);
    QVERIFY(!running);  // answered No: stopped and set to start on demand
    QCOMPARE(demandStarts, 1);
    QCOMPARE(AppSettings().GetInt("Settings", "FirstTime", 1), 0);
    QVERIFY(run(true, {}, nullptr, nullptr));
    QCOMPARE(questions, 1);

    AppSettings().SetString("Settings", "FirstTime", nullptr);
    QVERIFY(run(false, {}, nullptr, nullptr));
    QCOMPARE(questions, 1);
    QCOMPARE(AppSettings().GetInt("Settings", "FirstTime", 1), 0);
    // A file that cannot be opened ends the start.
    QTimer::singleShot(0, [] {
      if (QWidget* box = QApplication::activeModalWidget(); box != nullptr) box->close();
    });
    QVERIFY(!run(false, {QString::fromStdString(home_.file("missing.txt"))}, nullptr, nullptr));
    Set("hideifmini", 0);
    init();
  }
};

}  // namespace qv

QTEST_MAIN(qv::MainFrameTest)
#include "main_frame_test.moc"
