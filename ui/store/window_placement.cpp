#include "ui/store/window_placement.h"

#include <algorithm>
#include <cstdio>

#include "core/settings/settings_store.h"
#include "ui/store/text_fields.h"

namespace qv {
namespace {

constexpr const char* kSection = "Window size";
constexpr int kLowest = -999;   // what "%04d" prints in four characters
constexpr int kHighest = 9999;

}  // namespace

std::string FormatPlacementRect(const WindowRect& rect) {
  auto fit = [](int value) { return std::clamp(value, kLowest, kHighest); };
  char text[32];
  std::snprintf(text, sizeof text, "%04d %04d %04d %04d", fit(rect.left), fit(rect.top), fit(rect.right), fit(rect.bottom));
  return text;
}

std::optional<WindowRect> ParsePlacementRect(std::string_view text) {
  if (text.size() < 16) return std::nullopt;
  return WindowRect{NumberAtOffset(text, 0), NumberAtOffset(text, 5), NumberAtOffset(text, 10), NumberAtOffset(text, 15)};
}

WindowRect DefaultPlacementRect(int screenWidth, int screenHeight) {
  return WindowRect{screenWidth / 8, screenHeight / 8, screenWidth * 7 / 8, screenHeight * 7 / 8};
}

RestoredPlacement LoadPlacement(int screenWidth, int screenHeight) {
  const CSettingsStore& settings = AppSettings();
  RestoredPlacement placement;
  placement.normal = ParsePlacementRect(settings.GetString(kSection, "Rect"))
                         .value_or(DefaultPlacementRect(screenWidth, screenHeight));
  const bool icon = settings.GetInt(kSection, "icon", 0) != 0;
  const bool max = settings.GetInt(kSection, "max", 0) != 0;
  if (settings.GetInt("Settings", "startminimized", 0) != 0 || icon) {
    placement.show = WindowShow::kMinimizedNoActivate;
  } else if (max) {
    placement.show = WindowShow::kMaximized;
  }
  placement.restoreToMaximized = max;
  placement.toolbar = settings.GetInt(kSection, "tool", 1) != 0;
  placement.statusBar = settings.GetInt(kSection, "status", 1) != 0;
  const int32_t textHeight = settings.GetInt(kSection, "textheight", 0);
  if (textHeight > 0) placement.textHeight = std::min(textHeight, kHighest);
  return placement;
}

void SavePlacement(const WindowRect& normal, WindowShow show, bool restoresToMaximized, std::optional<bool> toolbarVisible,
                   std::optional<bool> statusBarVisible, std::optional<int> textHeight) {
  const CSettingsStore& settings = AppSettings();
  const bool icon = show == WindowShow::kMinimizedNoActivate;
  const bool max = show == WindowShow::kMaximized || (icon && restoresToMaximized);
  settings.SetString(kSection, "Rect", FormatPlacementRect(normal).c_str());
  settings.SetInt(kSection, "icon", icon ? 1 : 0);
  settings.SetInt(kSection, "max", max ? 1 : 0);
  if (toolbarVisible) settings.SetInt(kSection, "tool", *toolbarVisible ? 1 : 0);
  if (statusBarVisible) settings.SetInt(kSection, "status", *statusBarVisible ? 1 : 0);
  if (textHeight && *textHeight > 0) settings.SetInt(kSection, "textheight", *textHeight);
}

}  // namespace qv
