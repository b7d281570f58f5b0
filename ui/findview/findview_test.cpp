// The finding widgets without a display: dialogs filled and pressed, with the settings they
// store read back; the panes painted into images and clicked.
#include <QCheckBox>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <arpa/inet.h>

#include <map>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/findview/status_panel.h"
#include "ui/findview/custom_filter_dialog.h"
#include "ui/findview/filter_dialogs.h"
#include "ui/findview/left_view.h"
#include "ui/findview/find_dialog.h"
#include "ui/findview/log_text_view.h"
#include "ui/findview/highlight_colouring.h"
#include "ui/findview/highlight_dialog.h"
#include "ui/findview/match_fields_group.h"

namespace qv {
namespace {

// The document's shown list and the list view's selection over a vector.
class FakeList : public CMessageListAccess {
 public:
  bool IsFilterShown() const override { return filter.has_value(); }
  void ApplyFilter(const CRule& rule) override {
    filter = rule;
    ++filtersApplied;
    Rebuild();
  }
  void ShowAll() override {
    filter.reset();
    Rebuild();
  }
  int ShownCount() const override { return static_cast<int>(shown.size()); }
  SyslogMessage ShownMessage(ShownPosition at) const override {
    const int position = at.value;
    return position >= 0 && position < ShownCount() ? shown[static_cast<size_t>(position)] : SyslogMessage();
  }
  int32_t ShownTimeReceived(ShownPosition position) const override { return ShownMessage(position).timeReceived; }
  void ShownTimesReceived(std::vector<int32_t>* out) const override {
    ++timesRead;
    CMessageListAccess::ShownTimesReceived(out);
  }
  std::optional<Stamp> ShownStamp() const override { return stamp; }
  std::optional<ShownPosition> SelectedPosition() const override {
    return selected < 0 ? std::nullopt : std::optional<ShownPosition>(selected);
  }
  void SelectMessage(ShownPosition position) override { selected = position.value; }
  void SelectLastRow() override { selected = ShownCount() - 1; }

  void Rebuild() {
    shown.clear();
    for (const SyslogMessage& message : all) {
      if (!filter || filter->Matches(message)) shown.push_back(message);
    }
  }

  std::vector<SyslogMessage> all;
  std::vector<SyslogMessage> shown;
  std::optional<CRule> filter;
  int selected = -1;
  int filtersApplied = 0;
  std::optional<Stamp> stamp;
  mutable int timesRead = 0;
};

SyslogMessage Message(std::string text, int32_t timeReceived, std::string address = "10.0.0.1") {
  SyslogMessage message;
  message.message = std::move(text);
  message.timeReceived = timeReceived;
  message.ipAddress = std::move(address);
  message.hostName = "alpha";
  message.severity = 3;
  message.facility = 1;
  return message;
}

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  if (child == nullptr) qFatal("no child %s", name);
  return child;
}

QPushButton* Button(QWidget* parent, const QString& caption) {
  for (QPushButton* button : parent->findChildren<QPushButton*>()) {
    if (button->text() == caption) return button;
  }
  qFatal("no button %s", qPrintable(caption));
}

// The store's running counts over maps, with a version moved by hand.
class FakeCounts : public CEntryCounts {
 public:
  uint64_t CountsVersion() const override { return version; }
  uint64_t HostNameCount(std::string_view hostName) const override { return Get(hosts, std::string(hostName)); }
  uint64_t AddressCount(std::string_view address) const override { return Get(addresses, std::string(address)); }
  uint64_t FacilityCount(int32_t) const override { return 0; }
  uint64_t SeverityCount(int32_t severity) const override { return severity == 4 ? 7 : 0; }
  static uint64_t Get(const std::map<std::string, uint64_t>& counts, const std::string& key) {
    const auto found = counts.find(key);
    return found == counts.end() ? 0 : found->second;
  }
  uint64_t version = 1;
  std::map<std::string, uint64_t> hosts;
  std::map<std::string, uint64_t> addresses;
};

QStringList ChildTexts(const QTreeWidgetItem* parent) {
  QStringList texts;
  for (int i = 0; i < parent->childCount(); ++i) texts << parent->child(i)->text(0);
  return texts;
}

}  // namespace

class FindViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { home_ = std::make_unique<qv::testing::TempHome>(); }
  void cleanup() { home_.reset(); }

  void customFilterEditorSavesOnlyByOkInListOrder() {
    const CSettingsStore& store = AppSettings();
    int questions = 0;
    {
      CCustomFilterDialog dialog(nullptr, [&](QWidget*) { ++questions; return true; });
      QVERIFY(!Button(&dialog, "&Add/Modify Filter")->isEnabled());
      for (const char* name : {"errors", "web", "late"}) {
        QTest::keyClicks(Child<QLineEdit>(&dialog, "name"), name);
        QVERIFY(Button(&dialog, "&Add/Modify Filter")->isEnabled());
        Child<QComboBox>(&dialog, "severity")->setCurrentIndex(12);  // "Error or Higher"
        Child<QLineEdit>(&dialog, "seconds")->setText("90");
        QTest::mouseClick(Button(&dialog, "&Add/Modify Filter"), Qt::LeftButton);
        Child<QLineEdit>(&dialog, "name")->clear();
      }
      QCOMPARE(dialog.Names()->count(), 3);
      Child<QLineEdit>(&dialog, "hostname")->setText("beta");  // an edit not yet added
      // Cancel, like closing the window, writes nothing and asks nothing.
      QTest::mouseClick(Button(&dialog, "Cancel"), Qt::LeftButton);
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    QCOMPARE(store.GetInt("Settings", "customcount", -1), -1);
    QCOMPARE(questions, 0);

    CCustomFilterDialog dialog(nullptr, [&](QWidget*) { ++questions; return true; });
    for (const char* name : {"errors", "web", "late"}) {
      Child<QLineEdit>(&dialog, "name")->setText(name);
      dialog.AddModify();
    }
    // A drag puts "late" first; deleting "errors" leaves two, renumbered from 0.
    dialog.Names()->insertItem(0, dialog.Names()->takeItem(2));
    Child<QLineEdit>(&dialog, "name")->clear();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "name"), "errors");
    QTest::mouseClick(Button(&dialog, "&Delete Filter"), Qt::LeftButton);
    QCOMPARE(dialog.Names()->count(), 2);
    // An unsaved edit is offered for saving on OK.
    Child<QLineEdit>(&dialog, "name")->clear();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "name"), "host");
    QTest::keyClicks(Child<QLineEdit>(&dialog, "hostname"), "beta");
    QTest::mouseClick(Button(&dialog, "OK"), Qt::LeftButton);
    QCOMPARE(questions, 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(store.GetInt("Settings", "customcount", 0), 3);
    QCOMPARE(store.GetString("Custom\\custom0", "Name"), std::string("late"));
    QCOMPARE(store.GetString("Custom\\custom1", "Name"), std::string("web"));
    QCOMPARE(store.GetString("Custom\\custom2", "Name"), std::string("host"));
    QCOMPARE(store.GetString("Custom\\custom2", "Hostname"), std::string("beta"));

    // Reopened: a double-click fills the form from the stored entry.
    store.SetInt("Custom\\custom1", "TimeRange", 90);
    CCustomFilterDialog reopened(nullptr, [&](QWidget*) { ++questions; return false; });
    reopened.OpenFilter("web");
    QCOMPARE(Child<QLineEdit>(&reopened, "seconds")->text(), QString("90"));
    QCOMPARE(Child<QLineEdit>(&reopened, "name")->text(), QString("web"));
    QCOMPARE(questions, 1);  // the form was not changed
  }

  void highlightEditorWritesOnOkAndDrawsEachEntryInItsColours() {
    const CSettingsStore& store = AppSettings();
    std::vector<QColor> offered{QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 0, 255)};
    auto chooser = [&](const QColor&, CHighlightDialog::Swatch, QWidget*) -> std::optional<QColor> {
      if (offered.empty()) return std::nullopt;
      QColor next = offered.front();
      offered.erase(offered.begin());
      return next;
    };
    {
      CHighlightDialog dialog(nullptr, chooser);
      dialog.TextField()->setText("error");
      QTest::mouseClick(Child<QPushButton>(&dialog, "Text"), Qt::LeftButton);
      QTest::mouseClick(Child<QPushButton>(&dialog, "Background"), Qt::LeftButton);
      QTest::mouseClick(Button(&dialog, "Add/Modify"), Qt::LeftButton);
      dialog.TextField()->setText("err");
      QTest::mouseClick(Child<QPushButton>(&dialog, "Text"), Qt::LeftButton);
      dialog.RegExpBox()->setChecked(true);
      QTest::mouseClick(Button(&dialog, "Add/Modify"), Qt::LeftButton);
      QTest::mouseClick(Button(&dialog, "Cancel"), Qt::LeftButton);
    }
    QCOMPARE(store.GetInt("Settings", "hlcount", -1), -1);

    offered = {QColor(255, 0, 0), QColor(255, 255, 0)};
    CHighlightDialog dialog(nullptr, chooser);
    dialog.TextField()->setText("error");
    dialog.PickColour(CHighlightDialog::Swatch::kText);
    dialog.PickColour(CHighlightDialog::Swatch::kBackground);
    dialog.AddModify();
    dialog.TextField()->setText("err");
    dialog.PickColour(CHighlightDialog::Swatch::kText);  // chooser cancelled: the swatch stays
    QCOMPARE(dialog.SwatchColour(CHighlightDialog::Swatch::kText), QColor(255, 0, 0));
    dialog.AddModify();
    dialog.TextField()->setText("error");
    dialog.RegExpBox()->setChecked(true);
    dialog.AddModify();  // the listed text changes in place
    QCOMPARE(dialog.List()->topLevelItemCount(), 2);
    QCOMPARE(dialog.List()->topLevelItem(0)->background(0).color(), QColor(255, 255, 0));
    QCOMPARE(dialog.List()->topLevelItem(0)->foreground(0).color(), QColor(255, 0, 0));
    dialog.OpenEntry(1);
    QCOMPARE(dialog.TextField()->text(), QString("err"));
    dialog.accept();

    QCOMPARE(store.GetInt("Settings", "hlcount", 0), 2);
    QCOMPARE(store.GetString("Highlights\\highlight0", "String"), std::string("error"));
    QCOMPARE(store.GetInt("Highlights\\highlight0", "useregexp", 0), 1);
    QCOMPARE(store.GetInt("Highlights\\highlight0", "bg", 0), static_cast<int32_t>(MakeColour(255, 255, 0)));
    CHighlightColouring colouring;
    colouring.ReloadHighlights();
    const auto colours = colouring.Match(Message("disk error", 0));
    QVERIFY(colours.has_value());
    QCOMPARE(colours->first, QColor(255, 0, 0));
    QCOMPARE(colours->second, QColor(255, 255, 0));
  }

  void searchFiltersAsTheUserTypesAndFindWalksTheList() {
    FakeList list;
    list.all = {Message("kernel up", 100), Message("disk error", 200, "192.168.1.10"), Message("Error: fan", 300),
                Message("user login", 400)};
    list.Rebuild();
    CSearchTextDialog search(list);
    QTest::keyClicks(Child<QLineEdit>(&search, "text"), "err");
    QCOMPARE(list.filtersApplied, 3);
    QCOMPARE(list.ShownCount(), 2);
    QCOMPARE(list.selected, 1);
    QCOMPARE(search.Fields().message, std::string("err"));
    list.ShowAll();

    list.selected = -1;
    CFindDialog find(list);
    QVERIFY(find.CurrentTexts().join("").isEmpty());
    Child<QLineEdit>(&find, "message")->setText("error");
    QVERIFY(find.Find(true));
    QCOMPARE(list.selected, 1);
    QCOMPARE(find.CurrentTexts()[1], QString("192.168.1.10"));
    QTest::mouseClick(Button(&find, "Find Next"), Qt::LeftButton);
    QCOMPARE(list.selected, 2);
    QVERIFY(!find.Find(true));  // nothing further: the selection stays
    QCOMPARE(list.selected, 2);
    QTest::mouseClick(Button(&find, "Find Previous"), Qt::LeftButton);
    QCOMPARE(list.selected, 1);
    Child<QLineEdit>(&find, "message")->clear();
    Child<QLineEdit>(&find, "address")->setText("10.0.0.1");
    QVERIFY(find.Find(false));
    QCOMPARE(list.selected, 0);
  }

  // Find says when it found nothing, remembers the last search for a dialog made later in the
  // run, and "Find Messages" on a row starts from that row's host name and severity.
  void findSaysNoMatchRemembersAndStartsFromTheRow() {
    FakeList list;
    list.all = {Message("kernel up", 100), Message("disk error", 200), Message("fan", 300)};
    list.all[2].hostName = "beta";
    list.all[2].severity = 2;
    list.Rebuild();
    list.selected = 0;
    {
      CFindDialog find(list);
      find.Match()->SetFields(FilterFields());
      Child<QLineEdit>(&find, "message")->setText("nowhere");
      QTest::mouseClick(Button(&find, "Find Next"), Qt::LeftButton);
      QCOMPARE(find.Outcome(), QString("No match"));
      QCOMPARE(list.selected, 0);
      Child<QLineEdit>(&find, "message")->setText("ERROR");
      QVERIFY(find.Find(true));
      QCOMPARE(find.Outcome(), QString());
      QCOMPARE(list.selected, 1);
    }
    CFindDialog later(list);
    QCOMPARE(later.Match()->Fields().message, std::string("ERROR"));
    list.selected = 2;
    later.StartFromSelected();
    FilterFields expected;
    expected.hostName = "beta";
    expected.severityIndex = 3;  // "Critical", after the empty entry
    QCOMPARE(later.Match()->Fields(), expected);
    list.selected = 0;
    QVERIFY(later.Find(false) == false);  // nothing of beta before the first row
    QVERIFY(later.Find(true));
    QCOMPARE(list.selected, 2);
  }

  // The Find dialog steps off the row it found: below it when there is room, else above, else to
  // the roomier side; a dialog that does not cover the row stays.
  void findDialogStepsOffTheFoundRow() {
    const QRect screen(0, 0, 1200, 900);
    struct Case {
      QRect window;
      QRect row;
      QPoint expected;
    };
    const Case cases[] = {
        {{100, 100, 300, 200}, {0, 400, 1000, 20}, {100, 100}},  // apart: stays
        {{100, 100, 300, 200}, {0, 150, 1000, 20}, {100, 178}},  // below the row
        {{100, 600, 300, 200}, {0, 750, 1000, 20}, {100, 542}},  // no room below: above
        {{100, 100, 300, 800}, {0, 300, 1000, 20}, {100, 100}},  // neither: the roomier side (below), on screen
        {{100, 100, 300, 800}, {0, 700, 1000, 20}, {100, 0}},    // neither: above, on screen
    };
    for (const Case& c : cases) QCOMPARE(PositionOffRow(c.window, c.row, screen), c.expected);
  }

  // The Filter, Find and custom filter dialogs share one address field: typed key by key, a key
  // that would make a part above 255 or a fifth part is refused, as the rule editor refuses it.
  void addressFieldRefusesPartsAbove255() {
    struct Case {
      const char* typed;
      const char* kept;
      const char* address;
    };
    const Case cases[] = {{"999.1.1.1", "99.1.1.1", "99.1.1.1"},
                          {"255.255.255.255", "255.255.255.255", "255.255.255.255"},
                          {"256.1", "25.1", "25.1.0.0"},
                          {"1.2.3.4.5", "1.2.3.45", "1.2.3.45"},
                          {"10..3", "10..3", "10.0.3.0"}};
    for (const Case& c : cases) {
      CFilterDialog dialog;
      QTest::keyClicks(Child<QLineEdit>(&dialog, "address"), c.typed);
      QCOMPARE(Child<QLineEdit>(&dialog, "address")->text(), QString(c.kept));
      QCOMPARE(dialog.Fields().ToRule().IP, ntohl(inet_addr(c.address)));
    }
    for (const char* refused : {"300.1.1.1", "1.2.3.4.5", "1.2.3.999", "a.b.c.d"}) {
      QCOMPARE(AddressFieldValue(refused), 0xFFFFFFFFu);
    }
    QCOMPARE(AddressFieldValue(" . . "), 0u);
  }

  void filterTreeFollowsTheStoreAndChoosingFilters() {
    FakeList list;
    list.all = {Message("a", 100), Message("b", 200, "192.168.1.10")};
    list.all[0].severity = 4;
    list.all[1].severity = 6;
    list.Rebuild();
    CLeftView tree;
    tree.SetList(&list);
    QCOMPARE(tree.topLevelItemCount(), 10);
    QCOMPARE(tree.topLevelItem(9)->text(0), QString("Custom filters"));
    QCOMPARE(tree.BranchItem(FilterBranch::kFacility)->childCount(), 25);
    tree.ForgetEntries();
    QCOMPARE(tree.BranchItem(FilterBranch::kFacility)->childCount(), 0);
    tree.AddAddress("10.0.0.1");
    tree.AddAddress("192.168.1.10");
    tree.AddAddress("10.0.0.1");
    tree.AddHostName("");
    QCOMPARE(tree.BranchItem(FilterBranch::kAddress)->childCount(), 2);
    QCOMPARE(tree.BranchItem(FilterBranch::kHostname)->childCount(), 0);

    tree.setCurrentItem(tree.BranchItem(FilterBranch::kSeverity)->child(12));  // "Warning or Higher"
    QCOMPARE(list.ShownCount(), 1);
    QCOMPARE(list.shown[0].message, std::string("a"));
    tree.setCurrentItem(tree.BranchItem(FilterBranch::kAddress)->child(1));
    QCOMPARE(list.shown[0].message, std::string("b"));
    // Forgetting the selected entry moves the selection without choosing anything.
    const int applied = list.filtersApplied;
    tree.ForgetEntries();
    QCOMPARE(list.filtersApplied, applied);
    tree.setCurrentItem(tree.BranchItem(FilterBranch::kShowAll));
    QVERIFY(!list.IsFilterShown());

    AppSettings().SetInt("Settings", "customcount", 1);
    AppSettings().SetString("Custom\\custom0", "Name", "mine");
    tree.RebuildCustomFilters();
    QCOMPARE(tree.BranchItem(FilterBranch::kCustom)->child(0)->text(0), QString("mine"));
  }

  // Entries show their counts in name order; a refresh redraws changed counts; choosing an entry
  // inserted before others still filters by that entry; severity images take the list colours.
  void filterTreeShowsCountsInOrderAndSeverityColours() {
    FakeList list;
    list.all = {Message("a", 100), Message("b", 200)};
    list.all[1].hostName = "beta";
    list.Rebuild();
    FakeCounts counts;
    counts.hosts = {{"beta", 59}, {"alpha", 1}};
    AppSettings().SetInt("Settings", "color4", 0x00FF00);  // Warning: green
    CLeftView tree;
    tree.SetList(&list);
    tree.SetCounts(&counts);
    tree.ForgetEntries();
    tree.AddHostName("beta");
    tree.AddHostName("alpha");
    QTreeWidgetItem* hosts = tree.BranchItem(FilterBranch::kHostname);
    QCOMPARE(ChildTexts(hosts), (QStringList{"alpha (1)", "beta (59)"}));
    counts.hosts["beta"] = 60;
    tree.RefreshCounts();
    QCOMPARE(hosts->child(1)->text(0), QString("beta (59)"));  // nothing counted in or out
    counts.version = 2;
    tree.RefreshCounts();
    QCOMPARE(hosts->child(1)->text(0), QString("beta (60)"));
    tree.setCurrentItem(hosts->child(1));
    QCOMPARE(list.ShownCount(), 1);
    QCOMPARE(list.shown[0].message, std::string("b"));

    QTreeWidgetItem* severity = tree.BranchItem(FilterBranch::kSeverity);
    QCOMPARE(severity->child(4)->text(0), QString("Warning (7)"));
    const QPoint inside(5, 12);  // within the triangle, off its outline and mark
    QCOMPARE(severity->child(4)->icon(0).pixmap(16, 16).toImage().pixelColor(inside), QColor(0, 255, 0));
    QCOMPARE(severity->child(12)->icon(0).pixmap(16, 16).toImage().pixelColor(inside), QColor(0, 255, 0));
    QCOMPARE(severity->child(0)->icon(0).pixmap(16, 16).toImage().pixelColor(inside), QColor(255, 0, 0));
    AppSettings().SetInt("Settings", "color4", 0xFF0000);  // blue
    tree.ReloadColours();
    QCOMPARE(severity->child(4)->icon(0).pixmap(16, 16).toImage().pixelColor(inside), QColor(0, 0, 255));
  }

  // Bars on a scale with labels, the red line at the selection, a tooltip per column, clicks
  // that select the nearest column's first message.
  void graphPaintsBarsAxesAndSelectionAndClicksSelect() {
    FakeList list;
    for (int i = 0; i < 10; ++i) list.all.push_back(Message("m" + std::to_string(i), 1000 + (i < 5 ? 0 : 99)));
    list.all.push_back(Message("login from 192.168.1.10 failed", 1099, "192.168.1.10"));
    list.Rebuild();
    list.selected = 10;
    AppSettings().SetInt("Settings", "resolvetextip", 1);
    AppSettings().SetInt("Settings", "timeutc", 1);
    CLogTextView text(nullptr, [](uint32_t address) {
      return address == inet_addr("192.168.1.10") ? std::string("gateway") : std::string();
    });
    StatusPanel panel;
    panel.SetList(&list);
    panel.SetTextView(&text);
    panel.resize(400, 150);
    const QImage image = panel.grab().toImage();
    const QRect plot = panel.PlotRect();
    QVERIFY(plot.left() > 0 && plot.bottom() < 149);
    const CActivityGraph& graph = panel.Graph();
    QCOMPARE(graph.Width(), plot.width());
    QCOMPARE(graph.SecondsPerColumn(), uint64_t{1});  // 100 s over about 360 pixels
    QCOMPARE(graph.Columns(), 100);
    const int x0 = plot.left() + graph.ColumnLeft(0) + 1;
    const int x40 = plot.left() + graph.ColumnLeft(40) + 1;
    const int x99 = plot.left() + graph.ColumnLeft(99) + 2;
    QCOMPARE(image.pixelColor(x0, plot.bottom()), QColor(255, 255, 0));    // five messages
    QCOMPARE(image.pixelColor(x0, plot.top() + plot.height() / 10), QColor(Qt::black));  // five of six
    QCOMPARE(image.pixelColor(x99, plot.top() + 1), QColor(255, 255, 0));  // six: the top of the scale
    QCOMPARE(image.pixelColor(x40, plot.bottom()), QColor(255, 255, 0));   // an empty column's base line
    QVERIFY(image.pixelColor(x40, plot.bottom() - 3) != QColor(255, 255, 0));
    QCOMPARE(image.pixelColor(plot.left() + *graph.XOf(1099), plot.center().y()), QColor(255, 0, 0));
    // The scale's and the time axis's labels are drawn in their margins.
    auto labelPixels = [&image](const QRect& area) {
      int found = 0;
      for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) found += image.pixelColor(x, y).lightness() > 150 ? 1 : 0;
      }
      return found;
    };
    QVERIFY(labelPixels(QRect(0, plot.top(), plot.left() - 4, plot.height())) > 0);
    QVERIFY(labelPixels(QRect(plot.left(), plot.bottom() + 5, plot.width(), 149 - plot.bottom() - 5)) > 0);
    QCOMPARE(panel.ToolTipAt(QPoint(x0, plot.bottom() - 2)), QString("Jan 01 00:16:40 - 00:16:41 UTC: 5 messages"));
    QCOMPARE(panel.ToolTipAt(QPoint(2, 2)), QString());
    QCOMPARE(text.toPlainText(), QString("login from 192.168.1.10 failed"));
    QTRY_COMPARE(text.toPlainText(), QString("login from gateway failed"));

    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(plot.left() + graph.ColumnLeft(60), 10));  // nearer the right
    QCOMPARE(list.selected, 5);
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(plot.left() + graph.ColumnLeft(30), 10));
    QCOMPARE(list.selected, 0);
    QSignalSpy finds(&panel, &StatusPanel::findRequested);
    QTest::mouseDClick(&panel, Qt::LeftButton, {}, QPoint(30, 10));
    QCOMPARE(finds.count(), 1);
  }

  // One line above the text tells where and when the message came from; the text stays the
  // message's own, below it.
  void fullTextShowsAHeaderLineAboveTheText() {
    AppSettings().SetInt("Settings", "timeutc", 1);
    SyslogMessage message = Message("disk full on /var", 1000, "192.168.1.11");
    message.timeSent = 1030;
    message.facility = 10;
    CLogTextView text(nullptr, [](uint32_t) { return std::string(); });
    text.resize(900, 80);
    text.ShowMessage(message);
    const QString header = "Received Jan 01 00:16:40 UTC | Sent Jan 01 00:17:10 | Host alpha | Address 192.168.1.11 | "
                           "Facility authpriv | Severity ERROR";
    QCOMPARE(text.HeaderText(), header);
    QCOMPARE(text.toPlainText(), QString("disk full on /var"));
    auto* label = text.findChild<QLabel*>();
    QVERIFY(label != nullptr);
    QCOMPARE(label->text(), header);
    QVERIFY(text.viewport()->geometry().top() >= label->geometry().bottom());  // the text starts below it

    message.hostName.clear();
    message.timeSent = 0;
    text.resize(200, 80);  // too narrow: cut, with the whole line as its tooltip
    text.ShowMessage(message);
    QVERIFY(text.HeaderText().contains("Sent - | Host - |"));
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QCOMPARE(label->toolTip(), text.HeaderText());
    // A larger font (View Options' font size) makes the header taller; the text moves down with it.
    const int before = label->height();
    QFont larger = text.font();
    larger.setPointSize(larger.pointSize() * 2);
    text.setFont(larger);
    QVERIFY(label->height() > before);
    QVERIFY(text.viewport()->geometry().top() >= label->geometry().bottom());
    text.ShowMessage(std::nullopt);
    QCOMPARE(text.HeaderText(), QString());
    QCOMPARE(text.toPlainText(), QString());
  }

  // Repaints of an unchanged list reuse the columns; a changed list, a new width or a list that
  // cannot tell recount them, so the graph never shows a stale list.
  void graphRecountsOnlyWhenTheListOrWidthChanged() {
    FakeList list;
    for (int i = 0; i < 4; ++i) list.all.push_back(Message("m", 1000 + i));
    list.Rebuild();
    list.stamp = CMessageListAccess::Stamp{1, 4, 4};
    StatusPanel panel;
    panel.SetList(&list);
    panel.resize(300, 100);
    panel.grab();
    panel.grab();
    QCOMPARE(list.timesRead, 1);
    list.all.push_back(Message("m", 1090));
    list.Rebuild();
    list.stamp = CMessageListAccess::Stamp{1, 5, 5};
    panel.grab();
    QCOMPARE(list.timesRead, 2);
    QCOMPARE(panel.Graph().Count(*panel.Graph().ColumnOf(1090)), 1);
    // A moving time window lets its oldest messages go: same generation, same arrivals, fewer.
    list.all.erase(list.all.begin());
    list.Rebuild();
    list.stamp = CMessageListAccess::Stamp{1, 5, 4};
    panel.grab();
    QCOMPARE(list.timesRead, 3);
    int counted = 0;
    for (int column = 0; column <= panel.Graph().Width(); ++column) counted += panel.Graph().Count(column);
    QCOMPARE(counted, 4);
    panel.resize(200, 100);
    panel.grab();
    QCOMPARE(list.timesRead, 4);
    QCOMPARE(panel.Graph().Width(), panel.PlotRect().width());
    list.stamp.reset();
    panel.grab();
    panel.grab();
    QCOMPARE(list.timesRead, 6);
  }

 private:
  std::unique_ptr<qv::testing::TempHome> home_;
};

}  // namespace qv

QTEST_MAIN(qv::FindViewTest)
#include "findview_test.moc"
