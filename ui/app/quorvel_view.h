#pragma once
// The message list pane: a table over CMessageListModel, which holds no rows, newest message at
// the bottom. It carries the per-message commands (telnet or browser to the sender, toggle
// highlight, send to rules, copy as export lines), the column choice, widths and order, header
// sorting, and the start of reception at its first update.
//
// The list follows new messages only while the user stays at the bottom (CFollowState): scrolling
// up, moving through the rows or a found message pauses it, End, Ctrl+End, scrolling back down or
// ResumeFollowing resumes. The display lock stops following whatever that state says.
//
// Without a stored "columnorder" the host name follows the address and "Message" comes last; the
// last shown column always stretches to the pane's edge, so that no column hides beyond it.
//
// Column widths in the settings are in the units of the program's original small font and are
// scaled to the font in use, so that the default widths fit their texts here too.
//
// Rows and the document's shown positions differ once the full ring turns while the display is
// locked or between updates: the view speaks to the document and the finding panes only in
// positions, translated by its model (CMessageListModel::PositionOfRow, RowOfPosition), so that
// a selected row always means the message the row shows. Acting on the selection does not sync
// the rows, which would break the lock.
//
// The "Message" cell of a message that the highlight list matches is painted in that entry's
// colours (the severity and inverted colours come from the model).
//
// User-interface thread only. The document and the host must outlive the view.

#include <QTableView>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/find/message_list_access.h"
#include "ui/findview/highlight_colouring.h"
#include "ui/model/follow_state.h"

namespace qv {

class CMessageListModel;
class CQuorvelDoc;

// What the view asks of the frame around it.
class CListViewHost {
 public:
  virtual ~CListViewHost() = default;
  virtual bool IsLocked() const = 0;
  // The count text for the status bar and the tray icon's tool tip.
  virtual void SetCountText(const QString& text) = 0;
  // The selection changed: the activity graph marks the selected message.
  virtual void SelectionMoved() = 0;
};

class CQuorvelView : public QTableView, public CMessageListAccess {
  Q_OBJECT

 public:
  CQuorvelView(CQuorvelDoc& doc, CListViewHost& host, QWidget* parent = nullptr);

  CMessageListModel& Model() { return *model_; }

  // At start and after File New or Open; the first call of the run also starts reception.
  void OnInitialUpdate();
  // The views' update: count text, and unless locked the rows, and the newest row scrolled into
  // view while following.
  void OnUpdate();

  const CFollowState& Following() const { return follow_; }
  // Back to the bottom, following again (unless locked, the rows are brought up to date).
  void ResumeFollowing();

  // --- CMessageListAccess: the shown list and the selection, for the finding panes ---
  int ShownCount() const override;
  SyslogMessage ShownMessage(ShownPosition position) const override;
  int32_t ShownTimeReceived(ShownPosition position) const override;
  void ShownTimesReceived(std::vector<int32_t>* out) const override;
  std::optional<Stamp> ShownStamp() const override;
  // Clears every selection, selects the message's row and scrolls it into view. A message the
  // rows do not show yet (newer than the last update, or the list was replaced) brings the rows
  // up to the document first, locked or not: the user asked to see it.
  void SelectMessage(ShownPosition position) override;
  // The last row: the newest message, or while locked the newest the rows show.
  void SelectLastRow() override;
  std::optional<ShownPosition> SelectedPosition() const override;
  bool IsFilterShown() const override;
  void ApplyFilter(const CRule& rule) override;
  void ShowAll() override;
  // The quick filter's text (bytes; "" for none), narrowing what the tree's filter shows.
  void SetQuickFilter(const std::string& text);
  // A time window moves while the list follows the newest message, or shows it selected.
  bool SelectionAtNewest() const override;
  bool MoveTimeWindow(int32_t low) override;

  void ClearSelection();
  void EnsureSelected(ShownPosition position);
  // Where the first selected row stands on the screen, across the pane; empty when no selected
  // row is in view.
  QRect SelectedRowRect() const;
  // Shown positions of the selected rows, ascending; rows whose message has left are skipped.
  std::vector<ShownPosition> SelectedPositions() const;
  // The colours of the "Message" cell of a row, when the highlight list matches its message.
  std::optional<std::pair<QColor, QColor>> MessageCellColours(ListRow row);

  void CopySelection();
  void SelectAll();
  void ToggleHighlight();
  void SendToRules();
  // Opens "telnet://" or "http://" and the first selected sender's address.
  void OpenConnection(bool telnet);
  // Rereads the highlight list and repaints.
  void ReloadHighlights();
  // View Options: the check boxes, then the widths of the chosen columns, and "fontsize";
  // true when accepted (the caller then gives the panes the font size).
  bool EditViewOptions();
  // Header click on the column with sub-item `column`.
  void SortByColumn(int column);

  // Applies the show and width settings, and "columnorder".
  void ApplyColumnSettings();
  // On closing: widths of shown columns and the column order.
  void SaveColumnSettings() const;
  bool IsColumnShown(int column) const;

 signals:
  // Asks for the find dialog, prefilled from the selected message.
  void findRequested();
  // Following paused, resumed, or the count of new messages while paused changed.
  void followChanged();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // A new font sizes the rows anew; a new palette (the desktop turned light or dark) gives the
  // highlight entries without colours of their own the new system colours.
  void changeEvent(QEvent* event) override;

 private:
  void Activate();
  void SetColumnWidth(int column, int32_t width);
  void StretchLastShown();
  void SelectRow(ListRow row);
  // The row of a position, bringing the rows up to the document when they do not show it yet.
  std::optional<ListRow> RowShowing(ShownPosition position);
  void PauseFollowing();
  // Counts the messages newly shown since the last update.
  void CountArrivals();

  CQuorvelDoc& doc_;
  CListViewHost& host_;
  CMessageListModel* model_;
  CHighlightColouring highlights_;
  CFollowState follow_;
  uint64_t seenGeneration_ = 0;
  uint64_t seenAdded_ = 0;
};

}  // namespace qv
