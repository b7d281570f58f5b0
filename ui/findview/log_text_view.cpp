#include "ui/findview/log_text_view.h"

#include <QFont>

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

void CLogTextView::ShowMessage(const std::optional<std::string>& text) {
  message_ = text.value_or(std::string());
  Render();
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

}  // namespace qv
