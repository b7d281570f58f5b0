#pragma once
// The message list as a Qt table model over the document's shown list. It holds no rows: every
// cell's text is made from the store when the view asks for it, so a full store of millions of
// messages costs the view nothing until a row is painted.
//
// The rows the model has announced to its views lag the store until Sync(): a row keeps naming
// the same message (by its message number, see CMessageStore) until Sync removes it, and a row
// whose message the ring has overwritten meanwhile reads as empty. Sync announces the change:
// rows removed at the top as the full ring turns, rows inserted at the bottom, or a reset when
// the list was replaced (filter, sort, emptying, a file opened). The frame calls Sync at each
// view update except while the display is locked, which is how the lock keeps rows in place.
//
// Columns are the sub-items 0..6 of kListColumnTable. Colours: the "Severity" cell on the
// severity's colour ("color0".."color7", read by ReloadColours) in black or white, whichever
// reads on it; every other cell of a highlighted message in inverted window colours (the
// palette's at each paint, so a desktop turning dark is followed); other cells the view's own. (The text
// highlighting of the "Message" cell is the view's delegate's.) Received times follow
// "timeutc" as read at the last Sync.
//
// User-interface thread only.

#include <QAbstractTableModel>
#include <QColor>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/message/syslog_message.h"
#include "ui/store/list_numbers.h"

namespace qv {

class CQuorvelDoc;

class CMessageListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Reads the colours and announces the document's shown list. `doc` must outlive the model.
  explicit CMessageListModel(CQuorvelDoc& doc, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Brings the announced rows up to the document's shown list.
  void Sync();

  // The one translation between the view's rows and the document's shown positions, which
  // differ while the model lags a full ring (between updates, and while the display is locked).
  // Everything the view hands to the document or the finding panes (the selection, highlight
  // toggles, copies, the "Message" cell's colours) and everything it takes from them (a message
  // to select) goes through here. Nothing for a row whose message has left the ring, or for a
  // position not announced yet.
  std::optional<ShownPosition> PositionOfRow(ListRow row) const;
  std::optional<ListRow> RowOfPosition(ShownPosition position) const;
  // The message a row shows; an empty record when it has left the ring.
  SyslogMessage MessageAt(ListRow row) const;
  // Rereads the eight severity colours and repaints.
  void ReloadColours();

 private:
  void OnShownMessageChanged(ShownPosition position);

  CQuorvelDoc& doc_;
  std::array<QColor, 8> severityColours_;
  std::array<QColor, 8> severityText_;  // black or white, whichever reads on the colour
  // What the views were last told: row r is the message number firstNumber_ + r.
  int32_t rows_ = 0;
  uint64_t firstNumber_ = 0;
  uint64_t generation_ = 0;
  bool timeUtc_ = false;  // "timeutc", read at each Sync
};

// A message's bytes as text: UTF-8, with every byte that is not part of valid UTF-8 read as
// Windows-1252.
QString DisplayText(std::string_view bytes);

}  // namespace qv
