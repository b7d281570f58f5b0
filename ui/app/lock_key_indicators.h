#pragma once
// The Caps Lock, Num Lock and Scroll Lock panes at the right end of the status bar: "CAP", "NUM"
// and "SCRL" while the lock is on, blank while it is off, each pane as wide as its text either
// way. The locks belong to the keyboard, not to a window, so their state is read from the X
// server's keyboard indicators a few times a second; on a display that is not X11 (offscreen,
// Wayland) the panes stay blank.
//
// User-interface thread only.

#include <QObject>
#include <QTimer>

#include <array>
#include <optional>

class QLabel;
class QStatusBar;

namespace qv {

enum class LockKey { kCaps = 0, kNum = 1, kScroll = 2 };

class CLockKeyIndicators : public QObject {
  Q_OBJECT

 public:
  // Adds the three panes to `bar`, after the panes it has.
  explicit CLockKeyIndicators(QStatusBar* bar);

  const QLabel* Pane(LockKey key) const { return panes_[static_cast<size_t>(key)]; }
  // Reads the indicators now and shows them.
  void Update();

 private:
  std::array<QLabel*, 3> panes_{};
  std::array<unsigned long, 3> names_{};  // the indicators' X atoms, looked up once
  bool named_ = false;
  QTimer poll_;
};

}  // namespace qv
