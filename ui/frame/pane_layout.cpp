#include "ui/frame/pane_layout.h"

#include <algorithm>

namespace qv {
namespace {

constexpr int kGraphHeight = 175;
constexpr int kTreeWidth = 200;
constexpr int kTextHeight = 50;
// What the list and text area lose to the graph and the text view together.
constexpr int kBelowList = 250;

int OrFallback(int value, int fallback) { return value > 0 ? value : fallback; }

}  // namespace

PaneSizes ComputePaneSizes(int width, int height, int treeNeeds, int textHeight) {
  PaneSizes sizes{};
  sizes.upperHeight = OrFallback(height - kGraphHeight, 200);
  sizes.graphHeight = kGraphHeight;
  sizes.treeWidth = std::max(kTreeWidth, treeNeeds);
  sizes.rightWidth = OrFallback(width - sizes.treeWidth, 200);
  sizes.textHeight = textHeight > 0 ? textHeight : kTextHeight;
  sizes.listHeight = OrFallback(height - kBelowList - (sizes.textHeight - kTextHeight), 75);
  return sizes;
}

}  // namespace qv
