// The finding panes inside the real main window on an X server (run by screenshots_under_xvfb.sh):
// the filter tree with the addresses, host names and facilities seen, the list filtered to
// "Warning or Higher" with a highlighted message selected and its text in the full-text pane, the
// activity graph with its bars and selection mark, and the highlight editor with its entries in
// their colours. Each is photographed from the X server into the folder given on the command
// line and checked for what it must show.
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QWheelEvent>
#include <QtTest>

#include <ctime>
#include <string>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/app/lock_key_indicators.h"
#include "ui/app/main_frame.h"
#include "ui/app/quorvel_view.h"
#include "ui/findview/highlight_dialog.h"
#include "ui/model/message_list_model.h"
#include "ui/findview/quick_filter_field.h"
#include "ui/findview/match_fields_group.h"
#include "ui/findview/find_dialog.h"
#include "ui/findview/left_view.h"
#include "ui/findview/log_text_view.h"
#include "ui/findview/status_panel.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

QString gFolder;

// Locks or unlocks the X server's Caps Lock and Num Lock modifiers, as their keys would (defined
// at the end of the file, where Xlib's macros meet no Qt names).
void SetLocks(bool caps, bool num);

// Pixels of exactly this colour.
int CountColour(const QImage& image, const QColor& colour) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) count += (row[x] & 0xFFFFFF) == (colour.rgb() & 0xFFFFFF) ? 1 : 0;
  }
  return count;
}

// What the X server shows of a widget once it has drawn it, saved as a PNG.
QImage Photograph(QWidget& widget, const QString& name) {
  for (int i = 0; i < 15; ++i) {
    QApplication::processEvents();
    QTest::qWait(20);
  }
  const QImage image = widget.screen()->grabWindow(widget.winId()).toImage();
  image.save(gFolder + "/" + name);
  return image;
}

// The entry of that name, with or without its count ("beta (59)").
QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& text) {
  for (int i = 0; i < parent->childCount(); ++i) {
    const QString shown = parent->child(i)->text(0);
    if (shown == text || shown.startsWith(text + " (")) return parent->child(i);
  }
  return nullptr;
}

struct Highlight {
  const char* text;
  QColor fg;
  QColor bg;
};
const Highlight kHighlights[] = {{"unreadable", QColor(128, 0, 0), QColor(255, 200, 120)},
                                 {"link down", QColor(255, 255, 255), QColor(0, 96, 160)},
                                 {"Accepted publickey", QColor(0, 90, 0), QColor(200, 255, 200)}};

const char* const kHosts[] = {"fileserver", "gateway", "storage01", "switch-2", "mailhost"};
const char* const kTexts[] = {
    "sshd[2211]: Accepted publickey for backup from 192.0.2.10 port 51122",
    "port 7: link down, spanning tree topology change",
    "smartd[880]: Device /dev/sdb, 8 Currently unreadable (pending) sectors",
    "postfix/smtpd[6121]: warning: hostname unknown does not resolve",
    "kernel: nf_conntrack: table full, dropping packet",
    "CRON[991]: (root) CMD (run-parts /etc/cron.hourly)",
    "sudo: pam_unix(sudo:session): session opened for user root by admin(uid=1000)",
};

// Message i of a steady mix: five hosts in turn, the texts of kTexts in turn.
SyslogMessage Sample(int i, int32_t timeReceived) {
  SyslogMessage record;
  record.hostName = kHosts[i % 5];
  record.ipAddress = "192.168.1." + std::to_string(10 + i % 5);
  record.facility = 3;
  record.severity = 6;
  record.timeReceived = timeReceived;
  record.timeSent = timeReceived;
  record.message = "message " + std::to_string(i) + ": " + kTexts[i % 7];
  return record;
}

}  // namespace

class FindXvfbTest : public QObject {
  Q_OBJECT

 private slots:
  void thePanesInTheMainWindow() {
    qv::testing::TempHome home;
    const CSettingsStore& settings = AppSettings();
    settings.SetInt("Settings", "startserver", 0);
    settings.SetInt("Settings", "loadhistory", 0);
    for (int n = 0; n < 3; ++n) {
      const std::string section = "Highlights\\highlight" + std::to_string(n);
      settings.SetString(section, "string", kHighlights[n].text);
      settings.SetInt(section, "fg", static_cast<int32_t>(FromQColor(kHighlights[n].fg)));
      settings.SetInt(section, "bg", static_cast<int32_t>(FromQColor(kHighlights[n].bg)));
    }
    settings.SetInt("Settings", "hlcount", 3);
    CRule custom;
    custom.Name = "Storage errors";
    custom.Hostname = "storage01";
    custom.Severity = 11;
    custom.Save("Custom\\custom0");
    settings.SetInt("Settings", "customcount", 1);

    CQuorvelDoc doc(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    CMainFrame frame(doc);
    doc.NewDocument();
    frame.MessageList()->OnInitialUpdate();
    frame.setGeometry(0, 0, 1100, 900);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));

    // Forty minutes of uneven traffic with two busy spells, so that the graph has something to show.
    const int32_t start = 1'765'184'400;
    int warningOrHigher = 0;
    int32_t time = start;
    uint32_t noise = 12345;
    for (int i = 0; i < 400; ++i) {
      noise = noise * 1103515245u + 12345u;
      const bool busy = (i >= 90 && i < 150) || (i >= 260 && i < 300);
      time += static_cast<int32_t>((noise >> 16) % (busy ? 2 : 13));
      SyslogMessage record;
      record.hostName = kHosts[i % 5];
      record.ipAddress = "192.168.1." + std::to_string(10 + i % 5);
      record.facility = i % 3 == 0 ? 4 : (i % 3 == 1 ? 1 : 3);
      record.severity = (i * 5) % 8;
      record.timeReceived = time;
      record.timeSent = time;
      record.message = kTexts[i % 7];
      warningOrHigher += record.severity <= 4 ? 1 : 0;
      doc.AddMessage(record, false);
    }
    frame.UpdateAllViews();

    CLeftView& tree = *frame.FilterTree();
    for (FilterBranch branch : {FilterBranch::kHostname, FilterBranch::kAddress, FilterBranch::kFacility,
                                FilterBranch::kSeverity, FilterBranch::kCustom}) {
      tree.BranchItem(branch)->setExpanded(true);
    }
    QCOMPARE(tree.BranchItem(FilterBranch::kHostname)->childCount(), 5);
    QCOMPARE(tree.BranchItem(FilterBranch::kAddress)->childCount(), 5);
    QCOMPARE(tree.BranchItem(FilterBranch::kFacility)->childCount(), 3);
    QCOMPARE(tree.BranchItem(FilterBranch::kCustom)->child(0)->text(0), QString("Storage errors"));

    // "Severity", "Warning or Higher": only severities 0 to 4, and the count says so.
    QTreeWidgetItem* warning = ChildNamed(tree.BranchItem(FilterBranch::kSeverity), "Warning or Higher");
    QVERIFY(warning != nullptr);
    tree.RefreshCounts();
    QCOMPARE(warning->text(0), QString("Warning or Higher (%1)").arg(warningOrHigher));
    tree.setCurrentItem(warning);
    frame.UpdateAllViews();
    QCOMPARE(doc.GetShownCount(), warningOrHigher);
    QCOMPARE(frame.MessageList()->model()->rowCount(), warningOrHigher);
    QVERIFY2(frame.CountText().endsWith(" (Filter active)"), qPrintable(frame.CountText()));
    tree.scrollToTop();  // the entries of the first branches in view, the chosen filter still
    // The longest fixed entry is shown whole, not cut at the pane's edge.
    QTreeWidgetItem* longest = ChildNamed(tree.BranchItem(FilterBranch::kSeverity), "Informational or Higher");
    QVERIFY(longest != nullptr);
    QVERIFY2(tree.visualItemRect(longest).left() + tree.iconSize().width() +
                     tree.fontMetrics().horizontalAdvance(longest->text(0)) <=
                 tree.viewport()->width(),
             "the tree cuts its longest fixed entry");

    // A message marked as highlighted, selected: its text fills the full-text pane.
    const int marked = warningOrHigher - 6;
    doc.ToggleHighlight(ShownPosition(marked - 2));
    frame.MessageList()->SelectMessage(ShownPosition(marked));
    const SyslogMessage selected = doc.GetMessage(ShownPosition(marked));
    QTRY_COMPARE(frame.FullText()->toPlainText(), QString::fromStdString(selected.message));

    SetLocks(false, true);  // as most keyboards start
    QTRY_COMPARE(frame.LockKeys()->Pane(LockKey::kNum)->text(), QString("NUM"));
    const QImage window = Photograph(frame, "find-main-window.png");
    SetLocks(false, false);
    QVERIFY(!window.isNull());
    for (const Highlight& highlight : kHighlights) {
      QVERIFY2(CountColour(window, highlight.bg) > 200, highlight.text);  // the "Message" cells
    }
    const QImage graph = Photograph(*frame.ActivityGraph(), "find-activity-graph.png");
    const CActivityGraph& counted = frame.ActivityGraph()->Graph();
    QVERIFY(counted.HasMessages());
    QVERIFY(counted.SecondsPerColumn() >= 1);
    QVERIFY(CountColour(graph, QColor(255, 255, 0)) > 20 * graph.height() / 10);  // bars, not a sliver
    QVERIFY(CountColour(graph, QColor(255, 0, 0)) >= frame.ActivityGraph()->PlotRect().height() - 1);
    QVERIFY(CountColour(graph, QColor(0, 128, 0)) > 100);

    CHighlightDialog editor(&frame);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    QCOMPARE(editor.List()->topLevelItemCount(), 3);
    editor.List()->setCurrentItem(editor.List()->topLevelItem(1));
    editor.OpenEntry(1);  // its text and colours in the fields
    QCOMPARE(editor.TextField()->text(), QString("link down"));
    QCOMPARE(editor.SwatchColour(CHighlightDialog::Swatch::kBackground), kHighlights[1].bg);
    const QImage editorImage = Photograph(editor, "find-highlight-editor.png");
    for (const Highlight& highlight : kHighlights) {
      QVERIFY2(CountColour(editorImage, highlight.bg) > 100, highlight.text);
    }
    editor.reject();
  }

  // The default 1200-pixel window: the list follows new messages until the wheel scrolls it up,
  // then says so in the status bar and stands still; End brings it back to the newest.
  void theListPausesAndResumesFollowing() {
    qv::testing::TempHome home;
    AppSettings().SetInt("Settings", "startserver", 0);
    AppSettings().SetInt("Settings", "loadhistory", 0);
    CQuorvelDoc doc(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    CMainFrame frame(doc);
    doc.NewDocument();
    frame.MessageList()->OnInitialUpdate();
    frame.setGeometry(0, 0, 1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const auto add = [&doc](int from, int count) {
      for (int i = from; i < from + count; ++i) {
        SyslogMessage record;
        record.hostName = kHosts[i % 5];
        record.ipAddress = "192.168.1." + std::to_string(10 + i % 5);
        record.facility = 3;
        record.severity = 6;
        record.timeReceived = 1'765'184'400 + i;
        record.timeSent = record.timeReceived;
        record.message = "message " + std::to_string(i) + ": " + kTexts[i % 7];
        doc.AddMessage(record, false);
      }
    };
    add(0, 300);
    frame.UpdateAllViews();
    CQuorvelView& list = *frame.MessageList();
    QScrollBar& bar = *list.verticalScrollBar();
    QTRY_VERIFY(bar.maximum() > 0 && bar.value() == bar.maximum());
    // Every column in view, the host name right after the address, the message to the edge.
    const QHeaderView& header = *list.horizontalHeader();
    QCOMPARE(header.visualIndex(5), header.visualIndex(1) + 1);
    QCOMPARE(header.logicalIndex(6), 4);
    QVERIFY(header.sectionViewportPosition(5) + header.sectionSize(5) < list.viewport()->width());
    QCOMPARE(header.sectionViewportPosition(4) + header.sectionSize(4), list.viewport()->width());

    // A real wheel turn over the rows, as the X server delivers it.
    const QPoint centre = list.viewport()->rect().center();
    QWheelEvent wheel(centre, list.viewport()->mapToGlobal(centre), QPoint(), QPoint(0, 120 * 5), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list.viewport(), &wheel);
    QVERIFY(bar.value() < bar.maximum());
    const int kept = bar.value();
    add(300, 40);
    frame.UpdateAllViews();
    QCOMPARE(bar.value(), kept);
    QCOMPARE(frame.FollowText(), QString("Paused, 40 new"));
    Photograph(frame, "follow-paused.png");

    list.setFocus();
    QTest::keyClick(&list, Qt::Key_End);
    add(340, 5);
    frame.UpdateAllViews();
    QTRY_VERIFY(bar.value() == bar.maximum());
    QCOMPARE(frame.FollowText(), QString());
    QVERIFY(list.SelectedPosition() == ShownPosition(339));  // End went to the newest message
    Photograph(frame, "follow-resumed.png");
  }

  // Typing in the quick filter above the list narrows the list at once to the
  // messages whose text, host name or address holds the text; Escape brings all back.
  void theQuickFilterNarrowsTheList() {
    qv::testing::TempHome home;
    AppSettings().SetInt("Settings", "startserver", 0);
    AppSettings().SetInt("Settings", "loadhistory", 0);
    CQuorvelDoc doc(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    CMainFrame frame(doc);
    doc.NewDocument();
    frame.MessageList()->OnInitialUpdate();
    for (int i = 0; i < 70; ++i) doc.AddMessage(Sample(i, 1'765'184'400 + i), false);
    frame.UpdateAllViews();
    frame.setGeometry(0, 0, 1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CQuorvelView& list = *frame.MessageList();
    // Ctrl+L needs an active window, which no window manager gives here (the offscreen frame test
    // presses it): the field is focused as Ctrl+L focuses it, and typed into key by key.
    frame.QuickFilter()->FocusForTyping();
    QTest::keyClicks(frame.QuickFilter(), "unread");
    QTRY_COMPARE(list.Model().rowCount(), 10);  // every seventh message says "unreadable"
    for (int row = 0; row < list.Model().rowCount(); ++row) {
      QVERIFY(list.Model().index(row, 4).data().toString().contains("unreadable"));
    }
    QCOMPARE(frame.CountText(), QString("10 Entries (Filter active)"));
    Photograph(frame, "quick-filter.png");
    QTest::keyClicks(frame.QuickFilter(), "x");
    QTRY_COMPARE(list.Model().rowCount(), 0);
    QTest::keyClick(frame.QuickFilter(), Qt::Key_Escape);
    QTRY_COMPARE(list.Model().rowCount(), 70);
    QCOMPARE(frame.CountText(), QString("70 Entries"));
  }

  // "Within 5 seconds" chosen while the list follows the newest message is the last five seconds
  // and moves with the clock: a message that arrives ten seconds later is taken in, and the one
  // shown when the window was chosen has left by then.
  void aMovingTimeWindowTakesInALaterMessage() {
    qv::testing::TempHome home;
    AppSettings().SetInt("Settings", "startserver", 0);
    AppSettings().SetInt("Settings", "loadhistory", 0);
    CQuorvelDoc doc(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    CMainFrame frame(doc);
    doc.NewDocument();
    frame.MessageList()->OnInitialUpdate();
    const auto now = static_cast<int32_t>(std::time(nullptr));
    doc.AddMessage(Sample(0, now - 60), false);
    doc.AddMessage(Sample(1, now), false);
    frame.UpdateAllViews();
    frame.setGeometry(0, 0, 1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CLeftView& tree = *frame.FilterTree();
    QTreeWidgetItem* within5 = nullptr;
    QTreeWidgetItem* times = tree.BranchItem(FilterBranch::kTimeReceived);
    for (int i = 0; i < times->childCount(); ++i) {
      if (times->child(i)->text(0).startsWith("Within 5 seconds")) within5 = times->child(i);
    }
    QVERIFY(within5 != nullptr);
    tree.ChooseItem(within5);
    CMessageListModel& model = frame.MessageList()->Model();
    QCOMPARE(model.rowCount(), 1);
    QVERIFY(model.index(0, 4).data().toString().startsWith("message 1:"));
    Photograph(frame, "moving-window-chosen.png");

    QTest::qWait(10'000);  // the clock moves on for real; the window follows it once a second
    doc.OnDatagram("192.168.1.77", 514, "<11>Dec  8 12:00:00 late-host app: ten seconds later");
    frame.UpdateAllViews();
    QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 1, 3000);
    QVERIFY(model.index(0, 4).data().toString().contains("ten seconds later"));
    QVERIFY(frame.CountText().endsWith("(Filter active)"));
    Photograph(frame, "moving-window-later.png");
  }

  // Find on a row starts from its host name and severity, says "No match" when nothing more
  // matches, and steps off the row it found.
  void findStartsFromTheRowAndStepsOffWhatItFound() {
    qv::testing::TempHome home;
    AppSettings().SetInt("Settings", "startserver", 0);
    AppSettings().SetInt("Settings", "loadhistory", 0);
    CQuorvelDoc doc(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    CMainFrame frame(doc);
    doc.NewDocument();
    frame.MessageList()->OnInitialUpdate();
    for (int i = 0; i < 40; ++i) doc.AddMessage(Sample(i, 1'765'184'400 + i), false);
    frame.UpdateAllViews();
    frame.setGeometry(0, 0, 1200, 800);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CQuorvelView& list = *frame.MessageList();
    list.SelectMessage(ShownPosition(2));
    emit list.findRequested();  // "Find Messages" of the row's context menu
    CFindDialog& find = *frame.FindDialog();
    QVERIFY(QTest::qWaitForWindowExposed(&find));
    QCOMPARE(find.Match()->Fields().hostName, std::string(kHosts[2]));
    // Put the dialog right over the row the search will find, as a user might have left it.
    list.SelectMessage(ShownPosition(3));
    const QRect next = list.visualRect(list.Model().index(7, 0));
    find.move(find.x(), list.viewport()->mapToGlobal(next.topLeft()).y() - 40);
    QTRY_VERIFY(find.frameGeometry().intersects(QRect(list.viewport()->mapToGlobal(next.topLeft()), next.size())));
    QVERIFY(find.Find(true));
    QCOMPARE(list.SelectedPosition(), ShownPosition(7));
    QTRY_VERIFY(!find.frameGeometry().intersects(list.SelectedRowRect()));
    QCOMPARE(find.Outcome(), QString());
    Photograph(frame, "find-off-the-row.png");
    list.SelectMessage(ShownPosition(37));
    QVERIFY(!find.Find(true));
    QCOMPARE(find.Outcome(), QString("No match"));
    QCOMPARE(list.SelectedPosition(), ShownPosition(37));
    find.close();
  }

  // The lock panes follow the keyboard, whichever window has the focus, and come after the count
  // and listening texts.
  void theStatusBarShowsTheLockKeys() {
    qv::testing::TempHome home;
    AppSettings().SetInt("Settings", "startserver", 0);
    CQuorvelDoc doc(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    CMainFrame frame(doc);
    frame.setGeometry(0, 0, 900, 500);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const CLockKeyIndicators& locks = *frame.LockKeys();
    const QLabel* caps = locks.Pane(LockKey::kCaps);
    const QLabel* num = locks.Pane(LockKey::kNum);
    const QLabel* scroll = locks.Pane(LockKey::kScroll);
    const QLabel* listen = frame.findChild<QLabel*>("ListenText");
    QVERIFY(listen != nullptr);
    QVERIFY(listen->x() < caps->x() && caps->x() < num->x() && num->x() < scroll->x());

    SetLocks(true, false);
    QTRY_COMPARE(caps->text(), QString("CAP"));
    QCOMPARE(num->text(), QString());
    SetLocks(false, true);
    QTRY_COMPARE(num->text(), QString("NUM"));
    QTRY_COMPARE(caps->text(), QString());
    const int width = num->width();
    SetLocks(false, false);
    QTRY_COMPARE(num->text(), QString());
    QCOMPARE(num->width(), width);  // a lock turned off leaves its pane in place
  }
};

}  // namespace qv

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  QApplication application(argc, argv);
  qv::gFolder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(qv::gFolder);
  qv::FindXvfbTest test;
  return QTest::qExec(&test, 1, argv);
}

#include "find_xvfb_test.moc"

#include <QGuiApplication>
#include <X11/XKBlib.h>
#include <X11/keysym.h>

namespace qv {
namespace {

void SetLocks(bool caps, bool num) {
  Display* display = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display();
  const unsigned numMask = XkbKeysymToModifiers(display, XK_Num_Lock);
  XkbLockModifiers(display, XkbUseCoreKbd, LockMask | numMask, (caps ? LockMask : 0u) | (num ? numMask : 0u));
  XSync(display, False);
}

}  // namespace
}  // namespace qv
