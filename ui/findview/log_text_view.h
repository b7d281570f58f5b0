#pragma once
// The full-text pane: the whole text of the selected message, read-only and wrapped. With the
// setting "resolvetextip" (read at each message shown) the dotted addresses in the text are
// replaced by host names. Names are looked up on a thread of their own: the text appears at
// once with the addresses, and again with the names as they arrive.

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

  // Shows a message's text, or an empty text for none. The text is replaced only when it differs.
  void ShowMessage(const std::optional<std::string>& text);

 private:
  void Render();

  std::unique_ptr<CBackgroundNameResolver> resolver_;
  std::string message_;
  bool pending_ = false;  // shown with some addresses still being looked up
};

}  // namespace qv
