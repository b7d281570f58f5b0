// Window placement across runs: the one-eighth default, maximised and minimised windows, and the
// bars' visibility.

#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/app/persistent_frame.h"

namespace qv {
namespace {

class Frame : public CPersistentFrame {
 public:
  Frame() : toolBar_(addToolBar("Toolbar")) { statusBar(); }
  QToolBar* Bar() const { return toolBar_; }

 protected:
  QWidget* ToolBarWidget() const override { return toolBar_; }
  QWidget* StatusBarWidget() const override { return statusBar(); }

 private:
  QToolBar* toolBar_;
};

// A frame with a full-text pane whose height it remembers.
class PaneFrame : public Frame {
 public:
  std::optional<int> height;
  std::optional<int> restored;

 protected:
  std::optional<int> TextPaneHeight() const override { return height; }
  void RestoreTextPaneHeight(int value) override { restored = value; }
};

}  // namespace

class PlacementTest : public QObject {
  Q_OBJECT

 private:
  qv::testing::TempHome home_;

  static std::string Stored(const char* name) { return AppSettings().GetString("Window size", name); }

 private slots:
  void firstRunCoversTheMiddleThreeQuarters() {
    Frame frame;
    frame.ActivateFrame();
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(frame.geometry(), QRect(QPoint(screen.width() / 8, screen.height() / 8),
                                     QPoint(screen.width() * 7 / 8 - 1, screen.height() * 7 / 8 - 1)));
    frame.setGeometry(100, 120, 640, 400);
    frame.SavePlacement();
    QCOMPARE(Stored("Rect"), std::string("0100 0120 0740 0520"));
    QCOMPARE(AppSettings().GetInt("Window size", "icon", -1), 0);
    QCOMPARE(AppSettings().GetInt("Window size", "max", -1), 0);
    QCOMPARE(AppSettings().GetInt("Window size", "tool", -1), 1);
    QCOMPARE(AppSettings().GetInt("Window size", "status", -1), 1);

    Frame next;
    next.ActivateFrame();
    QCOMPARE(next.geometry(), QRect(100, 120, 640, 400));
  }

  // Only a frame with a chosen height writes one; the next frame gets it back, and a missing or
  // broken value gives it nothing, so that it keeps its default.
  void theFullTextPaneHeightComesBack() {
    {
      Frame plain;
      plain.ActivateFrame();
      plain.SavePlacement();
      QCOMPARE(AppSettings().GetInt("Window size", "textheight", -1), -1);
      PaneFrame unchosen;
      unchosen.ActivateFrame();
      QVERIFY(!unchosen.restored);
      unchosen.SavePlacement();
      QCOMPARE(AppSettings().GetInt("Window size", "textheight", -1), -1);
    }
    PaneFrame frame;
    frame.ActivateFrame();
    frame.height = 137;
    frame.SavePlacement();
    PaneFrame next;
    next.ActivateFrame();
    QCOMPARE(next.restored, std::optional<int>(137));
    AppSettings().SetInt("Window size", "textheight", -20);
    PaneFrame broken;
    broken.ActivateFrame();
    QVERIFY(!broken.restored);
  }

  void maximisedAndMinimisedWindowsComeBackSo() {
    {
      Frame frame;
      frame.ActivateFrame();
      frame.setGeometry(50, 60, 500, 300);
      frame.showMaximized();
      QTRY_VERIFY(frame.isMaximized());
      frame.SavePlacement();
    }
    QCOMPARE(AppSettings().GetInt("Window size", "max", -1), 1);
    {
      Frame frame;
      frame.ActivateFrame();
      QVERIFY(frame.isMaximized());
      frame.showNormal();
      QTRY_COMPARE(frame.geometry(), QRect(50, 60, 500, 300));
      frame.showMinimized();
      QTRY_VERIFY(frame.isMinimized());
      frame.SavePlacement();
    }
    QCOMPARE(AppSettings().GetInt("Window size", "icon", -1), 1);
    QCOMPARE(AppSettings().GetInt("Window size", "max", -1), 0);
    {
      Frame frame;
      frame.ActivateFrame();
      QVERIFY(frame.isMinimized());
      QVERIFY(!frame.isMaximized());  // restores to the normal rectangle
    }
  }

  void hiddenBarsStayHidden() {
    AppSettings().SetInt("Window size", "icon", 0);
    {
      Frame frame;
      frame.ActivateFrame();
      frame.statusBar()->hide();
      frame.SavePlacement();
    }
    QCOMPARE(AppSettings().GetInt("Window size", "status", -1), 0);
    QCOMPARE(AppSettings().GetInt("Window size", "tool", -1), 1);
    Frame frame;
    frame.ActivateFrame();
    QVERIFY(frame.statusBar()->isHidden());
    QVERIFY(!frame.Bar()->isHidden());
  }
};

}  // namespace qv

QTEST_MAIN(qv::PlacementTest)
#include "persistent_frame_test.moc"
