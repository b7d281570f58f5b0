#pragma once
// The "Font size" of View Options: setting "fontsize" (points) for the message list, the filter
// tree and the full-text pane; 0, absent or out of range, means each pane's own size (the
// desktop's, or the full-text pane's 9 points). User-interface thread only.

class QWidget;

namespace qv {

inline constexpr int kSmallestFontSize = 6;
inline constexpr int kLargestFontSize = 32;

int FontSizeSetting();
void SaveFontSize(int points);

// Gives `pane` a font of `points` (0: the size it had before the first call here).
void ApplyFontSize(QWidget& pane, int points);

}  // namespace qv
