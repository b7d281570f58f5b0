#pragma once
// The full-text pane: one line above the text with the selected message's time received, time
// sent, host name, address, facility and severity, then the whole text of the message,
// read-only and wrapped. With the setting "resolvetextip" (read at each message shown) the
// dotted addresses in the text are replaced by host names. Names are looked up on a thread of
// their own: the text appears at once with the addresses, and again with the names as they
// arrive. The header line is cut with an ellipsis when the pane is too narrow; its tooltip
// holds it whole.

#include <QLabel>
#include <QPlainTextEdit>

#include <memory>
#include <optional>

#include "core/message/host_name_cache.h"
#include "core/message/syslog_message.h"

namespace qv {

class CBackgroundNameResolver;

class CLogTextView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit CLogTextView(QWidget* parent = nullptr, CHostNameCache::ReverseLookup lookup = SystemReverseLookup);
  ~CLogTextView() override;

  // Shows a message (its header line and text), or nothing for none. The text is replaced only
  // when it differs.
  void ShowMessage(const std::optional<SyslogMessage>& message);
  // The header line as shown whole (before any cut), "" without a message.
  QString HeaderText() const { return header_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Render();
  void PlaceHeader();

  std::unique_ptr<CBackgroundNameResolver> resolver_;
  QLabel* headerLabel_ = nullptr;
  QString header_;
  std::string message_;
  bool pending_ = false;  // shown with some addresses still being looked up
};

// The header line of a message: "Received Dec 08 09:30:20 UTC | Sent Dec 08 09:30:20 | Host
// gateway | Address 192.168.1.11 | Facility user | Severity ERROR", each field as the message list
// renders it ("-" for an empty one).
QString FullTextHeader(const SyslogMessage& message);

}  // namespace qv
