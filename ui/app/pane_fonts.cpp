#include "ui/app/pane_fonts.h"

#include <QFont>
#include <QVariant>
#include <QWidget>

#include "core/settings/settings_store.h"

namespace qv {
namespace {

// Where a pane keeps the size it was built with, for "fontsize" 0.
constexpr const char* kOwnSize = "quorvelOwnFontSize";

}  // namespace

int FontSizeSetting() {
  const int32_t points = AppSettings().GetInt("Settings", "fontsize", 0);
  return points >= kSmallestFontSize && points <= kLargestFontSize ? points : 0;
}

void SaveFontSize(int points) { AppSettings().SetInt("Settings", "fontsize", points); }

void ApplyFontSize(QWidget& pane, int points) {
  if (!pane.property(kOwnSize).isValid()) pane.setProperty(kOwnSize, pane.font().pointSizeF());
  const double own = pane.property(kOwnSize).toDouble();  // -1 for a font sized in pixels
  if (points <= 0 && own <= 0) return;
  QFont font = pane.font();
  font.setPointSizeF(points > 0 ? points : own);
  pane.setFont(font);
}

}  // namespace qv
