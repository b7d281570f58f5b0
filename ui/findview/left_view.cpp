#include "ui/findview/left_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>

#include "ui/find/filter_fields.h"
#include "ui/findview/filter_dialogs.h"
#include "ui/findview/match_fields_group.h"

namespace qv {

namespace {

constexpr int kBranchRole = Qt::UserRole;
constexpr int kCountIntervalMs = 1000;

// Restores a flag on every way out of a scope.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

}  // namespace

namespace {

void DrawWarningTriangle(QPainter& p, const QColor& fill) {
  QPainterPath triangle;
  triangle.moveTo(8, 1);
  triangle.lineTo(15, 14);
  triangle.lineTo(1, 14);
  triangle.closeSubpath();
  p.setBrush(fill);
  p.drawPath(triangle);
  p.drawLine(8, 5, 8, 10);
  p.drawPoint(8, 12);
}

}  // namespace

QIcon SeverityImage(Colour fill) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 1));
  DrawWarningTriangle(p, QColor(RedOf(fill), GreenOf(fill), BlueOf(fill)));
  return QIcon(pixmap);
}

// Drawn rather than bundled: each image is a few strokes, and drawing keeps them sharp.
QIcon FilterTreeImage(int index) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QPen outline(QColor(40, 40, 40), 1);
  p.setPen(outline);
  switch (index) {
    case 0:  // all messages: a page of lines
      p.setBrush(Qt::white);
      p.drawRect(2, 1, 11, 14);
      for (int y = 4; y <= 12; y += 3) p.drawLine(4, y, 11, y);
      break;
    case 1:  // facility: a cabinet of drawers
      p.setBrush(QColor(205, 170, 110));
      p.drawRect(2, 1, 12, 14);
      p.drawLine(2, 8, 14, 8);
      p.drawLine(7, 4, 9, 4);
      p.drawLine(7, 11, 9, 11);
      break;
    case 2:  // time received: a clock
      p.setBrush(Qt::white);
      p.drawEllipse(1, 1, 14, 14);
      p.drawLine(8, 8, 8, 3);
      p.drawLine(8, 8, 12, 8);
      break;
    case 3:  // severity: a warning triangle
      DrawWarningTriangle(p, QColor(255, 200, 0));
      break;
    case 4:  // message contents: a speech balloon with text
      p.setBrush(QColor(220, 235, 255));
      p.drawRoundedRect(1, 2, 14, 10, 3, 3);
      p.drawLine(4, 12, 3, 15);
      p.drawLine(4, 6, 12, 6);
      p.drawLine(4, 9, 10, 9);
      break;
    case 5:  // host name: a monitor
      p.setBrush(QColor(120, 170, 230));
      p.drawRect(1, 2, 14, 9);
      p.setBrush(Qt::gray);
      p.drawRect(5, 12, 6, 2);
      break;
    case 6:  // address: three linked nodes
      p.setBrush(QColor(80, 160, 80));
      p.drawLine(4, 4, 12, 4);
      p.drawLine(4, 4, 8, 12);
      p.drawLine(12, 4, 8, 12);
      p.drawEllipse(1, 1, 6, 6);
      p.drawEllipse(9, 1, 6, 6);
      p.drawEllipse(5, 9, 6, 6);
      break;
    case 7:  // highlighted: a marker stroke
      p.setBrush(QColor(255, 255, 0));
      p.drawRect(1, 5, 14, 7);
      p.drawLine(3, 8, 13, 8);
      break;
    default: {  // several fields, custom filters: a funnel
      QPainterPath funnel;
      funnel.moveTo(1, 2);
      funnel.lineTo(15, 2);
      funnel.lineTo(10, 8);
      funnel.lineTo(10, 14);
      funnel.lineTo(6, 12);
      funnel.lineTo(6, 8);
      funnel.closeSubpath();
      p.setBrush(QColor(90, 130, 200));
      p.drawPath(funnel);
      break;
    }
  }
  return QIcon(pixmap);
}

int CLeftView::WidthForFixedEntries() const {
  int text = 0;
  for (const char* name : kSeverityFilterNames) text = std::max(text, fontMetrics().horizontalAdvance(name));
  for (const TimeWindowEntry& entry : kTimeWindowEntries) {
    text = std::max(text, fontMetrics().horizontalAdvance(entry.name));
  }
  text += fontMetrics().horizontalAdvance(" (000000)");  // a count of a full store of the default size
  constexpr int kItemMargins = 12;  // between image and text, and after the text
  return 2 * indentation() + iconSize().width() + text + kItemMargins + verticalScrollBar()->sizeHint().width() +
         2 * frameWidth();
}

CLeftView::CLeftView(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setDragDropMode(QAbstractItemView::NoDragDrop);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setIconSize(QSize(16, 16));
  // Long entries (host names, "Emergency or Higher") scroll sideways, as in a tree control,
  // rather than being cut short.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  setTextElideMode(Qt::ElideNone);
  severityColours_ = LoadSeverityColours();
  for (const FilterBranchInfo& info : kFilterBranches) {
    auto* item = new QTreeWidgetItem(this, {info.caption});
    item->setIcon(0, FilterTreeImage(info.image));
    item->setData(0, kBranchRole, static_cast<int>(info.branch));
    ReplaceEntryItems(info.branch);
  }
  connect(&countTimer_, &QTimer::timeout, this, &CLeftView::RefreshCounts);
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (!rebuilding_) ChooseItem(item);
  });
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { ChooseItem(item); });
}

QTreeWidgetItem* CLeftView::BranchItem(FilterBranch branch) const {
  return topLevelItem(static_cast<int>(branch));
}

QIcon CLeftView::EntryImage(FilterBranch branch, const FilterEntry& entry) const {
  if (branch == FilterBranch::kSeverity) return SeverityImage(severityColours_[static_cast<std::size_t>(entry.data % 8)]);
  return BranchItem(branch)->icon(0);
}

void CLeftView::AddEntryItem(FilterBranch branch, std::optional<std::size_t> entry) {
  if (!entry) return;
  QTreeWidgetItem* parentItem = BranchItem(branch);
  const FilterEntry& source = tree_.Entries(branch)[*entry];
  auto* item = new QTreeWidgetItem({FromBytes(tree_.DisplayText(branch, *entry))});
  item->setIcon(0, EntryImage(branch, source));
  item->setData(0, kBranchRole, static_cast<int>(branch));
  parentItem->insertChild(static_cast<int>(*entry), item);
  const bool learned = branch == FilterBranch::kHostname || branch == FilterBranch::kAddress;
  if (learned && source.data == CFilterTree::kMoreEntriesData) {
    item->setToolTip(0, QString("Only the first %1 are listed. Filter the others with \"Multiple Fields\", or use Find.")
                            .arg(CFilterTree::kMaxLearnedEntries));
  }
}

void CLeftView::ReplaceEntryItems(FilterBranch branch) {
  FlagGuard guard(rebuilding_);
  QTreeWidgetItem* parentItem = BranchItem(branch);
  qDeleteAll(parentItem->takeChildren());
  for (size_t i = 0; i < tree_.Entries(branch).size(); ++i) AddEntryItem(branch, i);
}

void CLeftView::AddAddress(const std::string& address) {
  AddEntryItem(FilterBranch::kAddress, tree_.AddAddress(address));
}

void CLeftView::AddHostName(const std::string& hostName) {
  AddEntryItem(FilterBranch::kHostname, tree_.AddHostName(hostName));
}

void CLeftView::AddFacility(int32_t facility) { AddEntryItem(FilterBranch::kFacility, tree_.AddFacility(facility)); }

void CLeftView::ForgetEntries() {
  tree_.ForgetEntries();
  for (FilterBranch branch : {FilterBranch::kHostname, FilterBranch::kAddress, FilterBranch::kFacility}) {
    ReplaceEntryItems(branch);
  }
}

void CLeftView::RebuildCustomFilters() {
  tree_.RebuildCustomFilters();
  ReplaceEntryItems(FilterBranch::kCustom);
}

void CLeftView::SetCounts(const CEntryCounts* counts) {
  tree_.SetCounts(counts);
  RefreshCounts();
  if (counts != nullptr) {
    countTimer_.start(kCountIntervalMs);
  } else {
    countTimer_.stop();
  }
}

void CLeftView::RefreshCounts() {
  for (const FilterItem& changed : tree_.UpdateCounts()) {
    QTreeWidgetItem* item = BranchItem(changed.branch)->child(changed.entry);
    if (item != nullptr) item->setText(0, FromBytes(tree_.DisplayText(changed.branch, static_cast<std::size_t>(changed.entry))));
  }
}

void CLeftView::ReloadColours() {
  severityColours_ = LoadSeverityColours();
  QTreeWidgetItem* severity = BranchItem(FilterBranch::kSeverity);
  for (int i = 0; i < severity->childCount(); ++i) {
    severity->child(i)->setIcon(0, EntryImage(FilterBranch::kSeverity, tree_.Entries(FilterBranch::kSeverity)[static_cast<std::size_t>(i)]));
  }
}

void CLeftView::ChooseItem(QTreeWidgetItem* item) {
  if (item == nullptr || list_ == nullptr) return;
  // An entry is known by its place among its siblings, which is its place in the tree's logic.
  const int entry = item->parent() != nullptr ? item->parent()->indexOfChild(item) : -1;
  const FilterItem chosen{static_cast<FilterBranch>(item->data(0, kBranchRole).toInt()), entry};
  CMessageListAccess& list = *list_;
  CFilterTree::Dialogs dialogs{[this, &list] { return CSearchTextDialog::Run(list, this); },
                               [this] { return CFilterDialog::Run(this); }};
  if (const std::optional<uint32_t> seconds = tree_.Choose(chosen, list, dialogs)) window_.Start(list, *seconds);
}

void CLeftView::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem() != nullptr) {
    ChooseItem(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

}  // namespace qv
