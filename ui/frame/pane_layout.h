#pragma once
// The sizes the main frame gives its panes whenever it is resized (not minimised): the activity
// graph keeps 175 pixels at the bottom, the filter tree 200 pixels at the left (more when its
// font needs more to show its fixed entries whole), the full-text
// view 50 pixels under the message list, or the height the user last dragged it to (which the
// frame remembers with its placement); what is left goes to the upper area, the right column
// and the message list, with a fallback when the window is too small for that. Other splitter
// positions dragged by the user therefore last only until the next resize.

namespace qv {

struct PaneSizes {
  int upperHeight;   // outer splitter, row 0 (filter tree, list and text)
  int graphHeight;   // outer splitter, row 1 (activity graph)
  int treeWidth;     // upper splitter, column 0
  int rightWidth;    // upper splitter, column 1
  int listHeight;    // right splitter, row 0
  int textHeight;    // right splitter, row 1; also its minimum height
};

// For a frame window `width` by `height` pixels (outer size); `treeNeeds` is the width the
// tree's fixed entries need in its font, used when above 200; `textHeight` the full-text view's
// chosen height, 0 (or less) for the default.
PaneSizes ComputePaneSizes(int width, int height, int treeNeeds = 0, int textHeight = 0);

}  // namespace qv
