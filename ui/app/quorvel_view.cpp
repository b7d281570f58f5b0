#include "ui/app/quorvel_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>

#include "core/message/syslog_message.h"
#include "rules/rule.h"
#include "ui/store/message_store.h"
#include "ui/app/pane_fonts.h"
#include "ui/app/view_options_dlg.h"
#include "ui/frame/frame_commands.h"
#include "ui/model/message_list_model.h"
#include "ui/store/list_columns.h"
#include "ui/store/quorvel_doc.h"

namespace qv {
namespace {

// Reception starts at the first update of the run, whichever document is shown then.
bool firstUpdateDone = false;

constexpr int kAddressColumn = 1;
constexpr int kMessageColumn = 4;
constexpr int kHostColumn = 5;
constexpr const char* kHostSample = "fileserver-01.lan";
constexpr int kCellMargins = 12;

// Column widths are kept in the pixels of the small dialog font the program was laid out with,
// in which a received time with its zone just fills the default 100 pixels. Fonts here are usually wider, so
// widths are scaled by how much wider this font writes such a time; stored widths stay
// comparable whatever the font.
constexpr int kDesignTimeWidth = 100;
constexpr const char* kDesignTimeSample = "Dec 08 00:00:00 UTC";

double WidthScale(const QFontMetrics& metrics) {
  return std::max(1.0, (metrics.horizontalAdvance(kDesignTimeSample) + kCellMargins) / double(kDesignTimeWidth));
}

// Paints the "Message" cell of a message that the highlight list matches in that entry's colours.
class CHighlightDelegate : public QStyledItemDelegate {
 public:
  explicit CHighlightDelegate(CQuorvelView& view) : QStyledItemDelegate(&view), view_(view) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != kMessageColumn) return;
    if (const auto colours = view_.MessageCellColours(ListRow(index.row())); colours.has_value()) {
      option->palette.setColor(QPalette::Text, colours->first);
      option->backgroundBrush = colours->second;
    }
  }

 private:
  CQuorvelView& view_;
};

}  // namespace

CQuorvelView::CQuorvelView(CQuorvelDoc& doc, CListViewHost& host, QWidget* parent)
    : QTableView(parent), doc_(doc), host_(host), model_(new CMessageListModel(doc, this)) {
  setModel(model_);
  setItemDelegate(new CHighlightDelegate(*this));
  highlights_.ReloadHighlights();
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setShowGrid(false);
  setTextElideMode(Qt::ElideRight);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  QHeaderView* header = horizontalHeader();
  header->setSectionsMovable(true);
  header->setSectionsClickable(true);
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(header, &QHeaderView::sectionClicked, this, &CQuorvelView::SortByColumn);
  connect(header, &QHeaderView::sectionMoved, this, &CQuorvelView::StretchLastShown);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { host_.SelectionMoved(); });
  // Only the user's own scrolling (wheel, bar, its arrows) triggers actions; the slider already
  // stands where the action takes it.
  connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] {
    const bool wasFollowing = follow_.IsFollowing();
    follow_.Scrolled(verticalScrollBar()->sliderPosition() >= verticalScrollBar()->maximum());
    if (follow_.IsFollowing() != wasFollowing) emit followChanged();
  });
  ApplyColumnSettings();
}

void CQuorvelView::SetColumnWidth(int column, int32_t width) {
  QHeaderView* header = horizontalHeader();
  if (width == 0) {
    header->setSectionHidden(column, true);
    return;
  }
  header->setSectionHidden(column, false);
  // Widths are 16-bit values in the settings; -2 sizes the column to its header.
  int size = width == kColumnWidthFitHeader
                 ? header->sectionSizeHint(column)
                 : static_cast<int>(static_cast<int16_t>(width) * WidthScale(fontMetrics()) + 0.5);
  // The address and host name columns hold texts wider than their short headers, which would
  // cut them off: fitting them makes room for the widest address and a usual host name.
  if (width == kColumnWidthFitHeader && column == kAddressColumn) {
    size = std::max(size, fontMetrics().horizontalAdvance("255.255.255.255") + kCellMargins);
  } else if (width == kColumnWidthFitHeader && column == kHostColumn) {
    size = std::max(size, fontMetrics().horizontalAdvance(kHostSample) + kCellMargins);
  }
  header->resizeSection(column, std::max(size, header->minimumSectionSize()));
}

void CQuorvelView::ApplyColumnSettings() {
  for (int column = 0; column < kListColumns; ++column) SetColumnWidth(column, InitialColumnWidth(column));
  const ColumnOrder order = LoadColumnOrder().value_or(kDefaultColumnOrder);
  QHeaderView* header = horizontalHeader();
  for (int position = 0; position < kListColumns; ++position) {
    header->moveSection(header->visualIndex(order[static_cast<std::size_t>(position)]), position);
  }
  StretchLastShown();
}

void CQuorvelView::StretchLastShown() {
  // The last shown column ("Message" unless the user moved it) takes the rest of the pane up to
  // its edge, and gives way when the pane narrows; the others keep the widths they were given.
  QHeaderView* header = horizontalHeader();
  int last = -1;
  for (int position = 0; position < kListColumns; ++position) {
    const int column = header->logicalIndex(position);
    if (!header->isSectionHidden(column)) last = column;
  }
  for (int column = 0; column < kListColumns; ++column) {
    const QHeaderView::ResizeMode mode = column == last ? QHeaderView::Stretch : QHeaderView::Interactive;
    if (header->sectionResizeMode(column) != mode) header->setSectionResizeMode(column, mode);
  }
}

bool CQuorvelView::IsColumnShown(int column) const {
  return !horizontalHeader()->isSectionHidden(column) && horizontalHeader()->sectionSize(column) > 0;
}

void CQuorvelView::SaveColumnSettings() const {
  std::array<int32_t, kListColumns> widths{};
  ColumnOrder order{};
  const QHeaderView* header = horizontalHeader();
  for (int column = 0; column < kListColumns; ++column) {
    widths[static_cast<std::size_t>(column)] =
        IsColumnShown(column) ? static_cast<int32_t>(header->sectionSize(column) / WidthScale(fontMetrics()) + 0.5) : 0;
    order[static_cast<std::size_t>(column)] = header->logicalIndex(column);
  }
  SaveColumnWidths(widths);
  SaveColumnOrder(order);
}

void CQuorvelView::OnInitialUpdate() {
  clearSelection();
  if (!firstUpdateDone) {
    firstUpdateDone = true;
    doc_.StartReception();
  }
  model_->Sync();
}

void CQuorvelView::OnUpdate() {
  const bool locked = host_.IsLocked();
  host_.SetCountText(QString::fromStdString(CountText(doc_.GetShownCount(), doc_.IsFilterShown(), locked)));
  if (locked) return;
  model_->Sync();
  CountArrivals();
  if (follow_.IsFollowing() && model_->rowCount() > 0) scrollToBottom();
  viewport()->update();
}

void CQuorvelView::CountArrivals() {
  const CMessageStore& store = doc_.Store();
  // A replaced list (filter, sort, emptying) brings no arrivals of its own.
  const uint64_t added = store.shownAdded();
  const uint64_t arrived = store.shownGeneration() == seenGeneration_ && added > seenAdded_ ? added - seenAdded_ : 0;
  seenGeneration_ = store.shownGeneration();
  seenAdded_ = added;
  if (arrived == 0 || follow_.IsFollowing()) return;
  follow_.Arrived(arrived);
  emit followChanged();
}

void CQuorvelView::PauseFollowing() {
  if (!follow_.IsFollowing()) return;
  follow_.Pause();
  emit followChanged();
}

void CQuorvelView::ResumeFollowing() {
  follow_.Resume();
  if (!host_.IsLocked()) {
    model_->Sync();
    CountArrivals();
    if (model_->rowCount() > 0) scrollToBottom();
  }
  emit followChanged();
}

std::vector<ShownPosition> CQuorvelView::SelectedPositions() const {
  std::vector<ShownPosition> positions;
  for (const QModelIndex& index : selectionModel()->selectedRows()) {
    if (const std::optional<ShownPosition> position = model_->PositionOfRow(ListRow(index.row()))) {
      positions.push_back(*position);
    }
  }
  std::sort(positions.begin(), positions.end());
  return positions;
}

QRect CQuorvelView::SelectedRowRect() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) return {};
  const auto first = std::min_element(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) {
    return a.row() < b.row();
  });
  const QRect cell = visualRect(*first);
  const QRect row(0, cell.top(), viewport()->width(), cell.height());
  if (!row.intersects(viewport()->rect())) return {};
  return QRect(viewport()->mapToGlobal(row.topLeft()), row.size());
}

std::optional<std::pair<QColor, QColor>> CQuorvelView::MessageCellColours(ListRow row) {
  const std::optional<ShownPosition> position = model_->PositionOfRow(row);
  if (!position) return std::nullopt;
  return highlights_.Match(doc_.GetMessage(*position));
}

void CQuorvelView::SelectRow(ListRow row) {
  clearSelection();
  if (row.value < 0 || row.value >= model_->rowCount()) return;
  const QModelIndex cell = model_->index(row.value, 0);
  selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(cell);
  host_.SelectionMoved();
}

std::optional<ListRow> CQuorvelView::RowShowing(ShownPosition position) {
  if (const std::optional<ListRow> row = model_->RowOfPosition(position)) return row;
  model_->Sync();
  return model_->RowOfPosition(position);
}

void CQuorvelView::SelectMessage(ShownPosition position) {
  PauseFollowing();  // the user went to a message: the list stays with it
  if (const std::optional<ListRow> row = RowShowing(position)) {
    SelectRow(*row);
  } else {
    clearSelection();
  }
}

void CQuorvelView::SelectLastRow() {
  if (!host_.IsLocked()) model_->Sync();
  SelectRow(ListRow(model_->rowCount() - 1));
  ResumeFollowing();  // the newest row is in view
}

std::optional<ShownPosition> CQuorvelView::SelectedPosition() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  const auto first = std::min_element(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) {
    return a.row() < b.row();
  });
  return model_->PositionOfRow(ListRow(first->row()));
}

void CQuorvelView::ClearSelection() { clearSelection(); }

void CQuorvelView::EnsureSelected(ShownPosition position) {
  const std::optional<ListRow> row = RowShowing(position);
  if (!row) return;
  const QModelIndex cell = model_->index(row->value, 0);
  selectionModel()->select(cell, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  scrollTo(cell);
}

void CQuorvelView::CopySelection() {
  std::string text;
  for (const ShownPosition position : SelectedPositions()) text += doc_.GetMessage(position).FormatExportLine();
  if (text.empty()) return;
  QApplication::clipboard()->setText(DisplayText(text));
}

void CQuorvelView::SelectAll() {
  setFocus();
  model_->Sync();
  selectAll();
}

void CQuorvelView::ToggleHighlight() {
  for (const ShownPosition position : SelectedPositions()) doc_.ToggleHighlight(position);
}

void CQuorvelView::SendToRules() {
  for (const ShownPosition position : SelectedPositions()) {
    SyslogMessage copy = doc_.GetMessage(position);
    const bool wasHighlighted = copy.highlighted;
    bool discard = false;
    bool highlight = false;
    doc_.RulesEngine().RunRules(copy, discard, highlight);
    if (!wasHighlighted && highlight) doc_.ToggleHighlight(position);
  }
}

void CQuorvelView::OpenConnection(bool telnet) {
  const std::vector<ShownPosition> positions = SelectedPositions();
  if (positions.empty()) return;
  const SyslogMessage message = doc_.GetMessage(positions.front());
  QDesktopServices::openUrl(QUrl(QString::fromStdString(ConnectionUrl(telnet, message.ipAddress))));
}

int CQuorvelView::ShownCount() const { return doc_.GetShownCount(); }

SyslogMessage CQuorvelView::ShownMessage(ShownPosition position) const { return doc_.GetMessage(position); }

int32_t CQuorvelView::ShownTimeReceived(ShownPosition position) const {
  StoredMessageView message;
  return doc_.Store().ShownAt(position, &message) ? message.timeReceived : 0;
}

void CQuorvelView::ShownTimesReceived(std::vector<int32_t>* out) const { doc_.Store().ShownTimesReceived(out); }

std::optional<CMessageListAccess::Stamp> CQuorvelView::ShownStamp() const {
  const CMessageStore& store = doc_.Store();
  return Stamp{store.shownGeneration(), store.shownAdded(), store.shownCount()};
}

bool CQuorvelView::IsFilterShown() const { return doc_.IsFilterShown(); }

void CQuorvelView::ApplyFilter(const CRule& rule) {
  doc_.ApplyFilter(rule);
  model_->Sync();
}

void CQuorvelView::ShowAll() {
  doc_.ShowAll();
  model_->Sync();
}

bool CQuorvelView::SelectionAtNewest() const {
  return follow_.IsFollowing() || CMessageListAccess::SelectionAtNewest();
}

bool CQuorvelView::MoveTimeWindow(int32_t low) { return doc_.MoveTimeWindow(low); }

void CQuorvelView::SetQuickFilter(const std::string& text) {
  doc_.SetQuickFilter(text);
  model_->Sync();
}

void CQuorvelView::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange) verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  if (event->type() == QEvent::PaletteChange) ReloadHighlights();
}

void CQuorvelView::ReloadHighlights() {
  highlights_.ReloadHighlights();
  viewport()->update();
}

bool CQuorvelView::EditViewOptions() {
  std::array<bool, kListColumns> shown{};
  for (int column = 0; column < kListColumns; ++column) shown[static_cast<std::size_t>(column)] = IsColumnShown(column);
  CViewOptionsDlg dialog(shown, FontSizeSetting(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  shown = dialog.Shown();
  SaveColumnsShown(shown);
  SaveFontSize(dialog.FontSize());
  for (int column = 0; column < kListColumns; ++column) {
    SetColumnWidth(column, shown[static_cast<std::size_t>(column)] ? ColumnWidthSetting(column) : 0);
  }
  StretchLastShown();
  return true;
}

void CQuorvelView::SortByColumn(int column) {
  if (doc_.GetShownCount() == 0 || column < 0 || column >= kListColumns) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  doc_.SortBy(kListColumnTable[static_cast<std::size_t>(column)].sortKey);
  model_->Sync();
  viewport()->update();
  QApplication::restoreOverrideCursor();
}

void CQuorvelView::Activate() {
  switch (DoubleClickAction()) {
    case RowAction::kBrowser: OpenConnection(false); break;
    case RowAction::kTelnet: OpenConnection(true); break;
    case RowAction::kFind: emit findRequested(); break;
  }
}

void CQuorvelView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Activate();
    return;
  }
  if (event->key() == Qt::Key_End && !(event->modifiers() & Qt::ShiftModifier)) {
    SelectLastRow();  // the newest message, even when no row was current (the table would pick the first)
    return;
  }
  QTableView::keyPressEvent(event);
  switch (event->key()) {
    case Qt::Key_End: ResumeFollowing(); break;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home: PauseFollowing(); break;
    default: break;
  }
}

void CQuorvelView::mousePressEvent(QMouseEvent* event) {
  if (indexAt(event->position().toPoint()).isValid()) PauseFollowing();
  QTableView::mousePressEvent(event);
}

void CQuorvelView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (!indexAt(event->position().toPoint()).isValid()) return;
  if (event->button() == Qt::RightButton) {
    OpenConnection(true);
  } else if (event->button() == Qt::LeftButton) {
    Activate();
  }
}

void CQuorvelView::mouseReleaseEvent(QMouseEvent* event) {
  QTableView::mouseReleaseEvent(event);
  host_.SelectionMoved();
}

void CQuorvelView::contextMenuEvent(QContextMenuEvent* event) {
  if (selectionModel()->selectedRows().isEmpty()) return;
  QMenu menu(this);
  for (const FrameCommand& command : ListContextCommands()) {
    QAction* action = menu.addAction(QString::fromUtf8(command.caption.data(), static_cast<qsizetype>(command.caption.size())));
    action->setData(command.id);
  }
  const QAction* chosen = menu.exec(event->globalPos());
  if (chosen == nullptr) return;
  switch (chosen->data().toInt()) {
    case kCmdTelnet: OpenConnection(true); break;
    case kCmdBrowser: OpenConnection(false); break;
    case kCmdFindMessages: emit findRequested(); break;
    case kCmdToggleHighlight: ToggleHighlight(); break;
    case kCmdSendToRules: SendToRules(); break;
    default: break;
  }
}

}  // namespace qv
