// The application's icon.
#include "app/qt/app_icon.h"

#include <QLinearGradient>
#include <QPainter>

namespace quorvel {

QImage PaintQuorvelIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 256.0, size / 256.0);  // drawn on a 256 x 256 grid

  QLinearGradient tile(0, 8, 0, 248);
  tile.setColorAt(0, QColor(0x3f, 0x8f, 0x4f));
  tile.setColorAt(1, QColor(0x1f, 0x55, 0x2b));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);

  // The mating lines: male down to the bar, the bar, and the bar down to each female.
  const QColor white(0xff, 0xff, 0xff);
  painter.setPen(QPen(white, 9, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(128, 92), QPointF(128, 122));
  painter.drawLine(QPointF(52, 122), QPointF(204, 122));
  const double femaleX[] = {52, 128, 204};
  for (double x : femaleX) {
    painter.drawLine(QPointF(x, 122), QPointF(x, 142));
    // Progeny: two lines down to two small dots.
    painter.drawLine(QPointF(x, 186), QPointF(x - 14, 212));
    painter.drawLine(QPointF(x, 186), QPointF(x + 14, 212));
  }

  painter.setPen(Qt::NoPen);
  painter.setBrush(white);
  painter.drawRect(QRectF(100, 36, 56, 56));  // the male
  painter.setBrush(QColor(0xf4, 0xd0, 0x5c));
  for (double x : femaleX) painter.drawEllipse(QPointF(x, 164), 24, 24);  // the females
  painter.setBrush(white);
  for (double x : femaleX) {
    painter.drawEllipse(QPointF(x - 14, 220), 10, 10);
    painter.drawEllipse(QPointF(x + 14, 220), 10, 10);
  }
  return image;
}

QIcon QuorvelIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addPixmap(QPixmap::fromImage(PaintQuorvelIcon(size)));
  return icon;
}

}  // namespace quorvel
