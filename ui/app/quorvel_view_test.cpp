// The message list view without a display: columns from their settings and back, copying export
// lines, highlighting by hand and by the rules, header sorting, the double-click action, View
// Options and selecting a message.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

#include "core/settings/settings_store.h"
#include "rules/rule.h"
#include "testing/temp_home.h"
#include "ui/app/quorvel_view.h"
#include "ui/app/view_options_dlg.h"
#include "ui/model/message_list_model.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

struct Host : CListViewHost {
  bool locked = false;
  QString countText;
  int selectionMoves = 0;
  bool IsLocked() const override { return locked; }
  void SetCountText(const QString& text) override { countText = text; }
  void SelectionMoved() override { ++selectionMoves; }
};

SyslogMessage Record(const std::string& host, const std::string& address, const std::string& text) {
  SyslogMessage record;
  record.severity = 4;
  record.facility = 3;
  record.hostName = host;
  record.ipAddress = address;
  record.timeReceived = 1700000000;
  record.timeSent = 0;
  record.message = text;
  return record;
}

}  // namespace

class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QStringList opened;

 public slots:
  void open(const QUrl& url) { opened << url.toString(); }
};

class ListViewTest : public QObject {
  Q_OBJECT

 private:
  qv::testing::TempHome home_;
  std::unique_ptr<CQuorvelDoc> doc_;
  Host host_;
  std::unique_ptr<CQuorvelView> view_;

  void Set(const char* name, int32_t value) { AppSettings().SetInt("Settings", name, value); }

  void Fill() {
    doc_->AddMessage(Record("bravo", "10.0.0.2", "second"), false);
    doc_->AddMessage(Record("alpha", "10.0.0.1", "first alarm"), false);
    doc_->AddMessage(Record("charlie", "10.0.0.3", "third"), false);
    view_->OnUpdate();
  }

  void SelectRows(std::initializer_list<int> rows) {
    view_->clearSelection();
    for (const int row : rows) {
      view_->selectionModel()->select(view_->model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }

  QStringList Column(int column) const {
    QStringList texts;
    for (int row = 0; row < view_->model()->rowCount(); ++row) texts << view_->model()->index(row, column).data().toString();
    return texts;
  }

 private slots:
  void init() {
    Set("startserver", 0);
    Set("loadhistory", 0);
    host_.locked = false;
    doc_ = std::make_unique<CQuorvelDoc>(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    view_ = std::make_unique<CQuorvelView>(*doc_, host_);
    view_->OnInitialUpdate();
  }

  void cleanup() {
    view_.reset();
    doc_.reset();
  }

  void columnsComeFromTheirSettingsAndGoBack() {
    view_.reset();
    AppSettings().SetString("Settings", "columnorder", "0004 0000 0001 0002 0003 0005 0006");
    Set("showhost", 0);
    Set("hostwidth", 123);
    Set("msgwidth", 250);
    view_ = std::make_unique<CQuorvelView>(*doc_, host_);
    QHeaderView* header = view_->horizontalHeader();
    QCOMPARE(header->logicalIndex(0), 4);  // "Message" first
    QVERIFY(header->sectionSize(4) >= 250);
    QVERIFY(!view_->IsColumnShown(5));
    // "ipwidth" -2 sizes the column to its header, but never so narrow that an address is cut off.
    QVERIFY(header->sectionSize(1) >= std::max(header->sectionSizeHint(1), header->minimumSectionSize()));
    QVERIFY(header->sectionSize(1) > view_->fontMetrics().horizontalAdvance("255.255.255.255"));

    // Widths survive a round trip through the settings whatever the font's scale.
    view_->SaveColumnSettings();
    QCOMPARE(AppSettings().GetInt("Settings", "msgwidth", 0), 250);
    header->moveSection(header->visualIndex(6), 0);
    header->resizeSection(4, header->sectionSize(4) * 2);
    view_->SaveColumnSettings();
    QCOMPARE(AppSettings().GetString("Settings", "columnorder"), std::string("0006 0004 0000 0001 0002 0003 0005"));
    QVERIFY(std::abs(AppSettings().GetInt("Settings", "msgwidth", 0) - 500) <= 1);
    QCOMPARE(AppSettings().GetInt("Settings", "hostwidth", 0), 123);  // hidden: keeps its width
    AppSettings().SetString("Settings", "columnorder", nullptr);
    Set("showhost", 1);
  }

  // The stored order wins; without one the host name follows the address and "Message" comes
  // last, ending at the pane's edge, so that the window of the usual width shows every column.
  void columnsFitThePane() {
    const struct {
      const char* stored;
      QList<int> order;
    } cases[] = {{nullptr, {0, 1, 5, 2, 3, 6, 4}}, {"0004 0000 0001 0002 0003 0005 0006", {4, 0, 1, 2, 3, 5, 6}}};
    for (const auto& c : cases) {
      AppSettings().SetString("Settings", "columnorder", c.stored);
      view_ = std::make_unique<CQuorvelView>(*doc_, host_);
      view_->resize(960, 400);  // the list's share of a 1200-pixel window
      view_->show();
      QApplication::processEvents();
      const QHeaderView* header = view_->horizontalHeader();
      QList<int> order;
      for (int position = 0; position < kListColumns; ++position) order << header->logicalIndex(position);
      QCOMPARE(order, c.order);
      if (c.stored != nullptr) continue;  // the stored widths may well be wider than the pane
      const int last = order.back();
      QCOMPARE(header->sectionViewportPosition(last) + header->sectionSize(last), view_->viewport()->width());
      QVERIFY(header->sectionSize(5) > view_->fontMetrics().horizontalAdvance("mailhost.lan"));
      for (int column = 0; column < kListColumns; ++column) {  // nothing hides beyond the edge
        QVERIFY(header->sectionViewportPosition(column) + header->sectionSize(column) <= view_->viewport()->width());
      }
    }
  }

  void viewOptionsHideAndShowColumns() {
    Set("hostwidth", 140);
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<CViewOptionsDlg*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->windowTitle(), QString("View Options"));
      QVERIFY(dialog->CheckBox(5)->isChecked());
      dialog->CheckBox(5)->setChecked(false);
      dialog->accept();
    });
    view_->EditViewOptions();
    QCOMPARE(AppSettings().GetInt("Settings", "showhost", -1), 0);
    QVERIFY(!view_->IsColumnShown(5));
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<CViewOptionsDlg*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      QVERIFY(!dialog->CheckBox(5)->isChecked());
      dialog->CheckBox(5)->setChecked(true);
      dialog->accept();
    });
    view_->EditViewOptions();
    QVERIFY(view_->IsColumnShown(5));
    QVERIFY(view_->horizontalHeader()->sectionSize(5) >= 140);  // the stored width again
    view_->SaveColumnSettings();
    QCOMPARE(AppSettings().GetInt("Settings", "hostwidth", 0), 140);
  }

  void copyPutsExportLinesOfTheSelectedRowsInOrder() {
    Fill();
    SelectRows({2, 0});
    view_->CopySelection();
    const std::string expected =
        doc_->GetMessage(ShownPosition(0)).FormatExportLine() + doc_->GetMessage(ShownPosition(2)).FormatExportLine();
    QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(expected));
    // Nothing selected: the clipboard keeps what it has.
    QApplication::clipboard()->setText("kept");
    view_->clearSelection();
    view_->CopySelection();
    QCOMPARE(QApplication::clipboard()->text(), QString("kept"));
  }

  void highlightByHandAndByTheRules() {
    CRule rule;
    rule.Name = "alarms";
    rule.Action = kActionHighlight;
    rule.Message = "alarm";
    rule.Save(RuleSectionName(0));
    Set("rulescount", 1);
    doc_->ReloadRules();
    Fill();
    SelectRows({0, 1, 2});
    view_->SendToRules();
    QVERIFY(!doc_->GetMessage(ShownPosition(0)).highlighted);
    QVERIFY(doc_->GetMessage(ShownPosition(1)).highlighted);
    QVERIFY(!doc_->GetMessage(ShownPosition(2)).highlighted);
    // Sending again does not flip it back.
    view_->SendToRules();
    QVERIFY(doc_->GetMessage(ShownPosition(1)).highlighted);
    SelectRows({1, 2});
    view_->ToggleHighlight();
    QVERIFY(!doc_->GetMessage(ShownPosition(1)).highlighted);
    QVERIFY(doc_->GetMessage(ShownPosition(2)).highlighted);
    Set("rulescount", 0);
  }

  void headerClicksSortAndReverse() {
    view_->SortByColumn(5);  // nothing shown: nothing happens
    Fill();
    view_->SortByColumn(5);
    QCOMPARE(Column(5), QStringList({"alpha", "bravo", "charlie"}));
    view_->SortByColumn(5);
    QCOMPARE(Column(5), QStringList({"charlie", "bravo", "alpha"}));
    view_->SortByColumn(1);
    QCOMPARE(Column(1), QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  }

  void doubleClickAndEnterFollowDblclick() {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("telnet", &catcher, "open");
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    int finds = 0;
    connect(view_.get(), &CQuorvelView::findRequested, this, [&] { ++finds; });
    Fill();
    Set("dblclick", 1);
    SelectRows({2});
    QTest::keyClick(view_.get(), Qt::Key_Return);
    Set("dblclick", 0);
    QTest::keyClick(view_.get(), Qt::Key_Enter);
    Set("dblclick", 7);  // anything else: Browser
    QTest::keyClick(view_.get(), Qt::Key_Return);
    Set("dblclick", 2);
    QTest::keyClick(view_.get(), Qt::Key_Return);
    QCOMPARE(catcher.opened, QStringList({"telnet://10.0.0.3", "http://10.0.0.3", "http://10.0.0.3"}));
    QCOMPARE(finds, 1);
    view_->clearSelection();
    view_->OpenConnection(true);
    QCOMPARE(catcher.opened.size(), 3);
    QDesktopServices::unsetUrlHandler("telnet");
    QDesktopServices::unsetUrlHandler("http");
  }

  void selectingAMessageAndFollowingTheNewest() {
    Fill();
    // The default widths hold the received time and the longest severity name in this font.
    const QFontMetrics metrics = view_->fontMetrics();
    QVERIFY(view_->horizontalHeader()->sectionSize(0) > metrics.horizontalAdvance(Column(0).front()));
    QCOMPARE(host_.countText, QString("3 Entries"));
    view_->SelectLastRow();
    QVERIFY(view_->SelectedPosition() == ShownPosition(2));
    QVERIFY(host_.selectionMoves > 0);
    view_->SelectMessage(ShownPosition(0));
    QVERIFY(view_->SelectedPosition() == ShownPosition(0));
    QCOMPARE(view_->selectionModel()->selectedRows().size(), 1);
    view_->SelectAll();
    QCOMPARE(view_->selectionModel()->selectedRows().size(), 3);
    // Back at the newest (End), the list follows new messages unless locked.
    view_->resize(400, 120);
    QTest::keyClick(view_.get(), Qt::Key_End);
    for (int i = 0; i < 200; ++i) doc_->AddMessage(Record("h", "10.0.0.9", "more"), false);
    view_->OnUpdate();
    QVERIFY(view_->verticalScrollBar()->maximum() > 0);
    QCOMPARE(view_->verticalScrollBar()->value(), view_->verticalScrollBar()->maximum());
    host_.locked = true;
    view_->verticalScrollBar()->setValue(0);
    doc_->AddMessage(Record("h", "10.0.0.9", "while locked"), false);
    view_->OnUpdate();
    QCOMPARE(view_->verticalScrollBar()->value(), 0);
    QCOMPARE(host_.countText, QString("204 Entries (locked)"));
  }

  // Each way of leaving the bottom pauses following and counts what arrives meanwhile; each way
  // back resumes it at the newest row.
  void followingPausesAwayFromTheBottomAndResumes() {
    using Action = std::function<void(CQuorvelView&)>;
    const Action wheelUp = [](CQuorvelView& view) { view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub); };
    const Action clickRow = [](CQuorvelView& view) {
      QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(view.model()->index(1, 0)).center());
    };
    const Action keyUp = [](CQuorvelView& view) { QTest::keyClick(&view, Qt::Key_Up); };
    const Action found = [](CQuorvelView& view) { view.SelectMessage(ShownPosition(3)); };
    const Action end = [](CQuorvelView& view) { QTest::keyClick(&view, Qt::Key_End); };
    const Action ctrlEnd = [](CQuorvelView& view) { QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier); };
    const Action wheelDown = [](CQuorvelView& view) { view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum); };
    const Action statusClick = [](CQuorvelView& view) { view.ResumeFollowing(); };
    const struct {
      const char* name;
      Action pause;
      Action resume;
    } cases[] = {{"scrolled up, End", wheelUp, end},     {"row clicked, Ctrl+End", clickRow, ctrlEnd},
                 {"key up, scrolled down", keyUp, wheelDown}, {"found, status text", found, statusClick}};
    view_->resize(400, 120);
    view_->show();
    for (const auto& c : cases) {
      for (int i = 0; i < 100; ++i) doc_->AddMessage(Record("h", "10.0.0.9", "before"), false);
      view_->OnUpdate();
      QApplication::processEvents();
      QScrollBar* bar = view_->verticalScrollBar();
      QVERIFY2(view_->Following().IsFollowing() && bar->value() == bar->maximum() && bar->maximum() > 0, c.name);
      c.pause(*view_);
      QVERIFY2(!view_->Following().IsFollowing(), c.name);
      const int kept = bar->value();
      for (int i = 0; i < 5; ++i) doc_->AddMessage(Record("h", "10.0.0.9", "while paused"), false);
      view_->OnUpdate();
      QCOMPARE(bar->value(), kept);
      QCOMPARE(view_->Following().StatusText(), std::string("Paused, 5 new"));
      c.resume(*view_);
      QVERIFY2(view_->Following().IsFollowing(), c.name);
      QVERIFY2(bar->value() == bar->maximum(), c.name);
      doc_->AddMessage(Record("h", "10.0.0.9", "after"), false);
      view_->OnUpdate();
      QVERIFY2(bar->value() == bar->maximum(), c.name);
    }
  }
};

}  // namespace qv

QTEST_MAIN(qv::ListViewTest)
#include "quorvel_view_test.moc"
