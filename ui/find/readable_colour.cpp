#include "ui/find/readable_colour.h"

#include <algorithm>
#include <cmath>

namespace qv {
namespace {

// One sRGB channel (0..255) as linear light.
double Linear(int channel) {
  const double value = channel / 255.0;
  return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

constexpr Colour kBlack = MakeColour(0, 0, 0);
constexpr Colour kWhite = MakeColour(255, 255, 255);

}  // namespace

double RelativeLuminance(Colour colour) {
  return 0.2126 * Linear(RedOf(colour)) + 0.7152 * Linear(GreenOf(colour)) + 0.0722 * Linear(BlueOf(colour));
}

double ContrastRatio(Colour first, Colour second) {
  const double a = RelativeLuminance(first);
  const double b = RelativeLuminance(second);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

Colour ReadableTextColour(Colour background) {
  return ContrastRatio(kBlack, background) >= ContrastRatio(kWhite, background) ? kBlack : kWhite;
}

Colour ReadableOn(Colour text, Colour background) {
  return ContrastRatio(text, background) >= kLeastReadableContrast ? text : ReadableTextColour(background);
}

}  // namespace qv
