#include "ui/app/command_icons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include "ui/frame/frame_commands.h"

namespace qv {
namespace {

constexpr int kSide = 32;  // drawn large, shown at the toolbar's size

template <typename Draw>
QIcon Painted(Draw draw) {
  QPixmap pixmap(kSide, kSide);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  draw(painter);
  painter.end();
  return QIcon(pixmap);
}

// The white "S" that tells the service's start and stop buttons from the viewer's own.
void DrawServiceLetter(QPainter& p, const QRect& box) {
  p.setPen(Qt::white);
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(12);
  p.setFont(font);
  p.drawText(box, Qt::AlignCenter, "S");
}

QIcon Triangle(const QColor& colour, bool service) {
  return Painted([&](QPainter& p) {
    QPainterPath path;
    path.moveTo(8, 4);
    path.lineTo(28, 16);
    path.lineTo(8, 28);
    path.closeSubpath();
    p.fillPath(path, colour);
    p.setPen(QPen(Qt::black, 1.5));
    p.drawPath(path);
    if (service) DrawServiceLetter(p, QRect(6, 8, 16, 16));
  });
}

QIcon Square(const QColor& colour, bool service) {
  return Painted([&](QPainter& p) {
    const QRect box(6, 6, 20, 20);
    p.fillRect(box, colour);
    p.setPen(QPen(Qt::black, 1.5));
    p.drawRect(box);
    if (service) DrawServiceLetter(p, box);
  });
}

}  // namespace

QIcon ProgramIcon() {
  static const QIcon icon = Painted([](QPainter& p) {
    p.setBrush(QColor(30, 80, 160));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRect(1, 1, 30, 30), 6, 6);
    p.setPen(QPen(Qt::white, 3.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(7, 6, 17, 17));
    p.drawLine(18, 19, 25, 27);
  });
  return icon;
}

QIcon CommandIcon(int32_t id) {
  const QStyle* style = QApplication::style();
  switch (id) {
    case kCmdNew: return style->standardIcon(QStyle::SP_FileIcon);
    case kCmdOpen: return style->standardIcon(QStyle::SP_DialogOpenButton);
    case kCmdSave: return style->standardIcon(QStyle::SP_DialogSaveButton);
    case kCmdAbout: return style->standardIcon(QStyle::SP_MessageBoxInformation);
    case kCmdFind:
      return Painted([](QPainter& p) {
        p.setPen(QPen(QColor(40, 40, 40), 3));
        p.drawEllipse(QRect(5, 5, 15, 15));
        p.setPen(QPen(QColor(40, 40, 40), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(19, 19, 27, 27);
      });
    case kCmdCopy:
      return Painted([](QPainter& p) {
        p.setPen(QPen(Qt::black, 1.5));
        p.setBrush(Qt::white);
        p.drawRect(QRect(4, 4, 15, 19));
        p.drawRect(QRect(12, 10, 15, 19));
      });
    case kCmdLock:
      return Painted([](QPainter& p) {
        p.setPen(QPen(QColor(90, 90, 90), 3.5));
        p.drawArc(QRect(9, 3, 14, 18), 0, 180 * 16);
        p.drawLine(9, 12, 9, 15);
        p.drawLine(23, 12, 23, 15);
        p.setPen(QPen(Qt::black, 1.5));
        p.setBrush(QColor(220, 170, 40));
        p.drawRect(QRect(5, 14, 22, 15));
      });
    case kCmdStartListening: return Triangle(QColor(40, 160, 40), false);
    case kCmdStopListening: return Square(QColor(200, 40, 40), false);
    case kCmdStartService: return Triangle(QColor(30, 80, 160), true);
    case kCmdStopService: return Square(QColor(120, 30, 30), true);
    default: return {};
  }
}

}  // namespace qv
