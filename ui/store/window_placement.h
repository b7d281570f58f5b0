#pragma once
// Where the main window was, stored in section "Window size": "Rect" (the normal rectangle,
// "%04d %04d %04d %04d" left, top, right, bottom), "icon", "max", "tool" and "status", and the
// height of the full-text pane, "textheight" (pixels; absent, or below 1, means the default).
// The frame (CPersistentFrame) reads it at its first activation and writes it when it is
// destroyed.
//
// "Rect" is read at fixed offsets, so a coordinate must print in four characters: coordinates
// are kept within -999..9999 when stored (a window beyond that is stored at the nearest edge).

#include <optional>
#include <string>
#include <string_view>

namespace qv {

struct WindowRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const WindowRect&) const = default;
};

enum class WindowShow { kNormal, kMaximized, kMinimizedNoActivate };

std::string FormatPlacementRect(const WindowRect& rect);
// The four numbers at offsets 0, 5, 10 and 15; nothing for an empty or too short text.
std::optional<WindowRect> ParsePlacementRect(std::string_view text);
// One eighth to seven eighths of the screen in each direction.
WindowRect DefaultPlacementRect(int screenWidth, int screenHeight);

struct RestoredPlacement {
  WindowRect normal;
  WindowShow show = WindowShow::kNormal;
  bool restoreToMaximized = false;  // exactly when "max" is set
  bool toolbar = true;
  bool statusBar = true;
  std::optional<int> textHeight;  // nothing: the frame's default
};

// Reads the stored placement; minimised when "startminimized" (section "Settings") or "icon" is
// set, else maximised when "max" is set, else normal.
RestoredPlacement LoadPlacement(int screenWidth, int screenHeight);

// Writes the placement: "icon" and "max" from the show state ("max" for a minimised window when
// it restores to maximised), "tool" and "status" only for bars that exist, and "textheight" only
// for a frame with a full-text pane.
void SavePlacement(const WindowRect& normal, WindowShow show, bool restoresToMaximized, std::optional<bool> toolbarVisible,
                   std::optional<bool> statusBarVisible, std::optional<int> textHeight = std::nullopt);

}  // namespace qv
