#pragma once
// A main window that remembers where it was: its normal rectangle, whether it was minimised or
// maximised, and whether its toolbar and status bar were shown (section "Window size", see
// window_placement.h). The placement is restored by the first ActivateFrame and saved by
// SavePlacement, which the frame calls when it closes.
//
// The normal rectangle is the window's geometry without the window manager's decoration, so
// that it reads back the same whatever the decoration is.

#include <QMainWindow>

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

 private:
  bool firstActivation_ = true;
};

}  // namespace qv
