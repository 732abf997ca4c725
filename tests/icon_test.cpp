// The scalable icon is drawn by hand beside the 32 px drawing; painting its rectangles on the
// 32 x 32 grid must give that drawing pixel for pixel, or the two icons have drifted apart.
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>

TEST(Icons, TheScalableIconIsTheSmallDrawingScaledUp) {
  QFile svg(QStringLiteral(VASTELO_SOURCE_DIR "/resources/vastelo.svg"));
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  QString text = QString::fromUtf8(svg.readAll());
  QImage painted(32, 32, QImage::Format_ARGB32);
  painted.fill(Qt::transparent);
  QPainter painter(&painted);
  const QRegularExpression rect(QStringLiteral(
      R"re(<rect x="(\d+)" y="(\d+)" width="(\d+)" height="(\d+)" fill="(#[0-9A-Fa-f]{6})"/>)re"));
  for (const QRegularExpressionMatch& m : rect.globalMatch(text))
    painter.fillRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt(),
                     QColor(m.captured(5)));
  painter.end();
  EXPECT_FALSE(text.remove(rect).contains(QStringLiteral("<rect"))) << "every rectangle in the one plain form";
  const QImage drawn = QImage(QStringLiteral(VASTELO_SOURCE_DIR "/resources/vastelo-32.xpm")).convertToFormat(QImage::Format_ARGB32);
  // Same size and format, so equal images are equal pixel for pixel.
  EXPECT_TRUE(painted == drawn);
}
