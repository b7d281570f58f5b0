#include "ui/model/message_list_model.h"

#include <QGuiApplication>
#include <QPalette>

#include "core/message/names.h"
#include "core/message/text_bytes.h"
#include "core/settings/settings_store.h"
#include "ui/find/highlight_list.h"
#include "ui/find/readable_colour.h"
#include "ui/store/list_columns.h"
#include "ui/store/quorvel_doc.h"

namespace qv {
namespace {

enum Column { kTimeReceived = 0, kAddress, kFacility, kSeverity, kMessage, kHostName, kTimeSent };

QColor ToQColor(Colour colour) { return QColor(RedOf(colour), GreenOf(colour), BlueOf(colour)); }

// The application's colours; black on white without a graphical application (tests).
QPalette CurrentPalette() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr ? QGuiApplication::palette()
                                                                                : QPalette(Qt::black, Qt::white);
}

}  // namespace

QString DisplayText(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  if (i == bytes.size()) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(i));
  text.reserve(static_cast<qsizetype>(bytes.size()));
  while (i < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    char32_t codePoint = 0;
    if (byte < 0x80) {
      text += QChar(byte);
      ++i;
    } else if (const std::size_t length = Utf8Sequence(bytes, i, &codePoint); length > 0) {
      text += QString::fromUcs4(&codePoint, 1);
      i += length;
    } else {
      text += QChar(Windows1252(byte));
      ++i;
    }
  }
  return text;
}

CMessageListModel::CMessageListModel(CQuorvelDoc& doc, QObject* parent) : QAbstractTableModel(parent), doc_(doc) {
  ReloadColours();
  connect(&doc_, &CQuorvelDoc::shownMessageChanged, this, &CMessageListModel::OnShownMessageChanged);
  Sync();
}

int CMessageListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int CMessageListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kListColumns; }

QVariant CMessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kListColumns) return {};
  return QString::fromLatin1(kListColumnTable[static_cast<std::size_t>(section)].title);
}

QVariant CMessageListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.column() >= kListColumns) return {};
  StoredMessageView message;
  const std::optional<ShownPosition> position = PositionOfRow(ListRow(index.row()));
  if (!position || !doc_.Store().ShownAt(*position, &message)) return {};
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole: {
      SyslogMessage times;
      times.timeReceived = message.timeReceived;
      times.timeSent = message.timeSent;
      switch (column) {
        case kTimeReceived: return QString::fromStdString(times.FormatTimeReceived(timeUtc_));
        case kAddress: return DisplayText(message.ipAddress);
        case kFacility: return QString::fromLatin1(FacilityName(message.facility));
        case kSeverity: return QString::fromLatin1(SeverityName(message.severity));
        case kMessage: return DisplayText(message.message);
        case kHostName: return DisplayText(message.hostName);
        default: return QString::fromStdString(times.FormatTimeSent());
      }
    }
    case Qt::BackgroundRole:
    case Qt::ForegroundRole: {
      const bool background = role == Qt::BackgroundRole;
      if (column == kSeverity) {
        const auto severity = static_cast<std::size_t>(std::max(message.severity, 0) % 8);
        return background ? severityColours_[severity] : severityText_[severity];
      }
      if (!message.highlighted) return {};
      return CurrentPalette().color(background ? QPalette::Text : QPalette::Base);
    }
    default:
      return {};
  }
}

void CMessageListModel::Sync() {
  timeUtc_ = AppSettings().GetInt("Settings", "timeutc", 0) != 0;
  const CMessageStore& store = doc_.Store();
  const uint64_t added = store.shownAdded();
  const auto count = static_cast<uint64_t>(store.shownCount());
  const uint64_t first = added - count;
  const bool allGone = rows_ > 0 && first >= firstNumber_ + static_cast<uint64_t>(rows_);
  if (store.shownGeneration() != generation_ || first < firstNumber_ || allGone) {
    // Replaced, or every announced row has left: start afresh.
    beginResetModel();
    generation_ = store.shownGeneration();
    firstNumber_ = first;
    rows_ = static_cast<int32_t>(count);
    endResetModel();
    return;
  }
  if (rows_ == 0) {
    firstNumber_ = first;  // nothing announced: nothing to move
  } else if (first > firstNumber_) {  // the full ring turned: the oldest rows leave at the top
    const auto gone = static_cast<int32_t>(first - firstNumber_);
    beginRemoveRows(QModelIndex(), 0, gone - 1);
    firstNumber_ = first;
    rows_ -= gone;
    endRemoveRows();
  }
  const uint64_t end = firstNumber_ + static_cast<uint64_t>(rows_);
  if (added > end) {
    const auto arrived = static_cast<int32_t>(added - end);
    beginInsertRows(QModelIndex(), rows_, rows_ + arrived - 1);
    rows_ += arrived;
    endInsertRows();
  }
}

void CMessageListModel::ReloadColours() {
  const std::array<Colour, 8> colours = LoadSeverityColours();
  for (std::size_t i = 0; i < colours.size(); ++i) {
    severityColours_[i] = ToQColor(colours[i]);
    severityText_[i] = ToQColor(ReadableTextColour(colours[i]));
  }
  if (rows_ > 0) emit dataChanged(index(0, kSeverity), index(rows_ - 1, kSeverity), {Qt::BackgroundRole, Qt::ForegroundRole});
}

std::optional<ShownPosition> CMessageListModel::PositionOfRow(ListRow row) const {
  const CMessageStore& store = doc_.Store();
  if (store.shownGeneration() != generation_ || row.value < 0 || row.value >= rows_) return std::nullopt;
  const uint64_t number = firstNumber_ + static_cast<uint64_t>(row.value);
  const uint64_t first = store.shownAdded() - static_cast<uint64_t>(store.shownCount());
  if (number < first || number >= store.shownAdded()) return std::nullopt;
  return ShownPosition(static_cast<int32_t>(number - first));
}

std::optional<ListRow> CMessageListModel::RowOfPosition(ShownPosition position) const {
  const CMessageStore& store = doc_.Store();
  if (store.shownGeneration() != generation_ || position.value < 0 || position.value >= store.shownCount()) {
    return std::nullopt;
  }
  const uint64_t number =
      store.shownAdded() - static_cast<uint64_t>(store.shownCount()) + static_cast<uint64_t>(position.value);
  if (number < firstNumber_ || number >= firstNumber_ + static_cast<uint64_t>(rows_)) return std::nullopt;
  return ListRow(static_cast<int32_t>(number - firstNumber_));
}

SyslogMessage CMessageListModel::MessageAt(ListRow row) const {
  const std::optional<ShownPosition> position = PositionOfRow(row);
  return position ? doc_.GetMessage(*position) : SyslogMessage();
}

void CMessageListModel::OnShownMessageChanged(ShownPosition position) {
  if (const std::optional<ListRow> row = RowOfPosition(position)) {
    emit dataChanged(index(row->value, 0), index(row->value, kListColumns - 1));
  }
}

}  // namespace qv
