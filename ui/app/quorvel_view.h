#pragma once
// The message list pane: a table over CMessageListModel, which holds no rows, newest message at
// the bottom. It carries the per-message commands (telnet or browser to the sender, toggle
// highlight, send to rules, copy as export lines), the column choice, widths and order, header
// sorting, and the start of reception at its first update.
//
// Column widths in the settings are in the units of the program's original small font and are
// scaled to the font in use, so that the default widths fit their texts here too.
//
// Rows and the document's shown positions: the model announces the document's list only at
// Sync, so before acting on selected rows the view syncs, and a row is then the position.
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
  // The views' update: count text, and unless locked the rows and following the newest.
  void OnUpdate();

  // --- CMessageListAccess: the shown list and the selection, for the finding panes ---
  int ShownCount() const override;
  SyslogMessage ShownMessage(int position) const override;
  int32_t ShownTimeReceived(int position) const override;
  void ShownTimesReceived(std::vector<int32_t>* out) const override;
  std::optional<Stamp> ShownStamp() const override;
  // Clears every selection, selects the row (-1: the last) and scrolls it into view.
  void SelectMessage(int index) override;
  int GetSelectedIndex() const override;
  bool IsFilterShown() const override;
  void ApplyFilter(const CRule& rule) override;
  void ShowAll() override;

  void ClearSelection();
  void EnsureSelected(int index);
  // Selected shown positions, ascending, after bringing the rows up to the document.
  std::vector<int> SelectedPositions();

  void CopySelection();
  void SelectAll();
  void ToggleHighlight();
  void SendToRules();
  // Opens "telnet://" or "http://" and the first selected sender's address.
  void OpenConnection(bool telnet);
  // Rereads the highlight list and repaints.
  void ReloadHighlights();
  // View Options: the check boxes, then the widths of the chosen columns.
  void EditViewOptions();
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

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Activate();
  void SetColumnWidth(int column, int32_t width);

  CQuorvelDoc& doc_;
  CListViewHost& host_;
  CMessageListModel* model_;
  CHighlightColouring highlights_;
};

}  // namespace qv
