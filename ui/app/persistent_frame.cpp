#include "ui/app/persistent_frame.h"

#include <QGuiApplication>
#include <QScreen>

#include "ui/store/window_placement.h"

namespace qv {
namespace {

QRect ToQRect(const WindowRect& rect) { return QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1)); }

WindowRect FromQRect(const QRect& rect) {
  return WindowRect{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

}  // namespace

CPersistentFrame::CPersistentFrame(QWidget* parent) : QMainWindow(parent) {}

void CPersistentFrame::ActivateFrame() {
  if (!firstActivation_) {
    showNormal();
    return;
  }
  firstActivation_ = false;
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize screenSize = screen != nullptr ? screen->size() : QSize(1024, 768);
  const RestoredPlacement placement = LoadPlacement(screenSize.width(), screenSize.height());
  if (QWidget* bar = ToolBarWidget(); bar != nullptr) bar->setVisible(placement.toolbar);
  if (QWidget* bar = StatusBarWidget(); bar != nullptr) bar->setVisible(placement.statusBar);
  if (placement.textHeight) RestoreTextPaneHeight(*placement.textHeight);
  setGeometry(ToQRect(placement.normal));
  switch (placement.show) {
    case WindowShow::kNormal:
      show();
      break;
    case WindowShow::kMaximized:
      showMaximized();
      break;
    case WindowShow::kMinimizedNoActivate:
      setAttribute(Qt::WA_ShowWithoutActivating);
      setWindowState(placement.restoreToMaximized ? (Qt::WindowMinimized | Qt::WindowMaximized) : Qt::WindowMinimized);
      show();
      setAttribute(Qt::WA_ShowWithoutActivating, false);
      break;
  }
}

void CPersistentFrame::SavePlacement() {
  const Qt::WindowStates state = windowState();
  WindowShow show = WindowShow::kNormal;
  if (state & Qt::WindowMinimized) {
    show = WindowShow::kMinimizedNoActivate;
  } else if (state & Qt::WindowMaximized) {
    show = WindowShow::kMaximized;
  }
  const QRect normal = (state & (Qt::WindowMinimized | Qt::WindowMaximized)) ? normalGeometry() : geometry();
  auto visibility = [](const QWidget* bar) -> std::optional<bool> {
    if (bar == nullptr) return std::nullopt;
    return !bar->isHidden();
  };
  qv::SavePlacement(FromQRect(normal.isValid() ? normal : geometry()), show, (state & Qt::WindowMaximized) != 0,
                    visibility(ToolBarWidget()), visibility(StatusBarWidget()), TextPaneHeight());
}

}  // namespace qv
