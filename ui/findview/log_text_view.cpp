#include "ui/findview/log_text_view.h"

#include <QFont>
#include <QResizeEvent>

#include "core/message/names.h"
#include "core/settings/settings_store.h"
#include "ui/find/address_names.h"
#include "ui/findview/match_fields_group.h"

namespace qv {

CLogTextView::CLogTextView(QWidget* parent, CHostNameCache::ReverseLookup lookup) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font("Arial");
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(9);
  setFont(font);
  headerLabel_ = new QLabel(this);
  headerLabel_->setTextFormat(Qt::PlainText);
  headerLabel_->setAutoFillBackground(true);
  headerLabel_->setBackgroundRole(QPalette::AlternateBase);
  headerLabel_->setContentsMargins(4, 1, 4, 1);
  PlaceHeader();
  // The answer arrives on the resolver's thread; the text is redrawn on this one. The resolver
  // is destroyed before this object's QObject part and calls nothing after, and an event posted
  // to an object that is gone is dropped, so `this` is safe here.
  resolver_ = std::make_unique<CBackgroundNameResolver>(
      [this] {
        QMetaObject::invokeMethod(this, [this] {
          if (pending_) Render();
        }, Qt::QueuedConnection);
      },
      std::move(lookup));
}

CLogTextView::~CLogTextView() = default;

void CLogTextView::ShowMessage(const std::optional<SyslogMessage>& message) {
  message_ = message ? message->message : std::string();
  const QString header = message ? FullTextHeader(*message) : QString();
  if (header != header_) {
    header_ = header;
    PlaceHeader();
  }
  Render();
}

void CLogTextView::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  PlaceHeader();
}

// The header takes the top of the frame; the text's viewport starts below it.
void CLogTextView::PlaceHeader() {
  const int height = headerLabel_->sizeHint().height();
  setViewportMargins(0, height, 0, 0);
  const QRect inside = contentsRect();
  headerLabel_->setGeometry(inside.left(), inside.top(), inside.width(), height);
  const int room = inside.width() - headerLabel_->contentsMargins().left() - headerLabel_->contentsMargins().right();
  headerLabel_->setText(headerLabel_->fontMetrics().elidedText(header_, Qt::ElideRight, std::max(room, 0)));
  headerLabel_->setToolTip(header_);
}

void CLogTextView::Render() {
  std::string shown = message_;
  pending_ = false;
  if (AppSettings().GetInt("Settings", "resolvetextip", 0) != 0) {
    AddressReplacement replaced =
        ReplaceAddresses(message_, [this](const std::string& address) { return resolver_->Lookup(address); });
    shown = std::move(replaced.text);
    pending_ = replaced.pending;
  }
  const QString display = FromBytes(shown);
  if (display != toPlainText()) setPlainText(display);
}

QString FullTextHeader(const SyslogMessage& message) {
  auto field = [](const char* name, const std::string& value) {
    return QString("%1 %2").arg(name, value.empty() ? QString("-") : FromBytes(value));
  };
  return QStringList{field("Received", message.FormatTimeReceived()), field("Sent", message.FormatTimeSent()),
                     field("Host", message.hostName), field("Address", message.ipAddress),
                     field("Facility", FacilityName(message.facility)), field("Severity", SeverityName(message.severity))}
      .join(" | ");
}

}  // namespace qv
