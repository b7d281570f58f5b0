#include "ui/app/lock_key_indicators.h"

#include <QGuiApplication>
#include <QLabel>
#include <QStatusBar>

// After every Qt header: Xlib defines macros (KeyPress, Bool, None) that Qt's names would meet.
#include <X11/XKBlib.h>

namespace qv {

namespace {

constexpr int kPollMs = 250;
constexpr std::array<const char*, 3> kTexts = {"CAP", "NUM", "SCRL"};
constexpr std::array<const char*, 3> kIndicatorNames = {"Caps Lock", "Num Lock", "Scroll Lock"};

Display* X11Display() {
  auto* x11 = qGuiApp == nullptr ? nullptr : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 == nullptr ? nullptr : x11->display();
}

}  // namespace

CLockKeyIndicators::CLockKeyIndicators(QStatusBar* bar) : QObject(bar) {
  for (size_t i = 0; i < panes_.size(); ++i) {
    auto* pane = new QLabel;
    pane->setObjectName(kTexts[i]);
    pane->setAlignment(Qt::AlignCenter);
    pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(kTexts[i]) + 8);
    bar->addPermanentWidget(pane);
    panes_[i] = pane;
  }
  if (X11Display() == nullptr) return;
  connect(&poll_, &QTimer::timeout, this, &CLockKeyIndicators::Update);
  poll_.start(kPollMs);
  Update();
}

void CLockKeyIndicators::Update() {
  Display* display = X11Display();
  if (display == nullptr) return;
  if (!named_) {
    for (size_t i = 0; i < names_.size(); ++i) names_[i] = XInternAtom(display, kIndicatorNames[i], False);
    named_ = true;
  }
  for (size_t i = 0; i < panes_.size(); ++i) {
    int on = False;
    // An indicator the keyboard map does not have reads as off.
    if (XkbGetNamedIndicator(display, names_[i], nullptr, &on, nullptr, nullptr) != True) on = False;
    panes_[i]->setText(on != False ? kTexts[i] : "");
  }
}

}  // namespace qv
