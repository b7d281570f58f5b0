#pragma once
// A main window that remembers where it was: its normal rectangle, whether it was minimised or
// maximised, whether its toolbar and status bar were shown, and the height of its full-text pane
// (section "Window size", see window_placement.h). The placement is restored by the first ActivateFrame and saved by
// SavePlacement, which the frame calls when it closes.
//
// The normal rectangle is the window's geometry without the window manager's decoration, so
// that it reads back the same whatever the decoration is.

#include <QMainWindow>

#include <optional>

namespace qv {

class CPersistentFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CPersistentFrame(QWidget* parent = nullptr);

  // Shows the window. The first time, the stored placement decides how (normal, maximised, or
  // minimised without activation) and which bars show; later times, it is shown normally.
  void ActivateFrame();
  void SavePlacement();

 protected:
  // The bars whose visibility is stored; null when the frame has none.
  virtual QWidget* ToolBarWidget() const = 0;
  virtual QWidget* StatusBarWidget() const = 0;
  // The height of the full-text pane to remember, nothing for a frame without one; and the
  // remembered height given back at the first activation, before the window is placed.
  virtual std::optional<int> TextPaneHeight() const { return std::nullopt; }
  virtual void RestoreTextPaneHeight(int height) { (void)height; }

 private:
  bool firstActivation_ = true;
};

}  // namespace qv
