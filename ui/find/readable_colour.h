#pragma once
// Text that stays readable whatever the background: the severity colours and the highlight
// colours keep their meaning in a light and in a dark palette, and the text drawn on them is
// chosen from the background's luminance (the relative luminance and contrast ratio of WCAG 2,
// over sRGB). Colours are in the settings' form (red in the lowest byte). Pure functions.

#include "ui/find/highlight_list.h"

namespace qv {

// 0 for black to 1 for white.
double RelativeLuminance(Colour colour);
// (lighter + 0.05) / (darker + 0.05): 1 for equal luminance, 21 for black on white.
double ContrastRatio(Colour first, Colour second);
// Black or white, whichever stands out more from `background`.
Colour ReadableTextColour(Colour background);
// The contrast below which text is replaced (WCAG's least for large text): a colour the user
// chose for its meaning is kept while it can be read.
inline constexpr double kLeastReadableContrast = 3.0;
// `text` when it contrasts at least kLeastReadableContrast with `background`, otherwise
// ReadableTextColour(background).
Colour ReadableOn(Colour text, Colour background);

}  // namespace qv
