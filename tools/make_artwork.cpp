// Draws the window's artwork into a folder (default: assets): the logo, the
// application icon and, for each of the 21 controls, a normal picture
// (white lines on black) and a highlight picture (the same in red). The
// pictures are 24-bit BMP files; the icon is a PNG.
//
//   vlx_make_artwork [output-folder [icons-folder]]
//
// With an icons folder it also draws the desktop icon at the sizes of the
// hicolor theme, as NxN.png (kept in dist/icons).
//
// Each drawing is made in the coordinates of the box the window shows it in
// and scaled to the picture's own size, so a picture looks the same in its
// box whatever its pixel size.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cstdio>
#include <functional>

namespace {

const QColor Line(0xFF, 0xFF, 0xFF);
const QColor Hot(0xFF, 0x00, 0x00);
const QColor Ground(0x00, 0x00, 0x00);

QFont Bold(qreal pixels) {
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPointSizeF(pixels * 72.0 / 96.0);  // drawn at 96 dots per inch
  f.setBold(true);
  return f;
}

// An image of size w x h on which draw() paints in a box of boxW x boxH.
QImage Draw(int w, int h, qreal boxW, qreal boxH, const QColor& ground,
            const std::function<void(QPainter&)>& draw) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(ground);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.scale(w / boxW, h / boxH);
  draw(p);
  p.end();
  return img.convertToFormat(QImage::Format_RGB888);
}

// A pad: a rounded square with its number in the lower right corner.
void Pad(QPainter& p, const QColor& c, int number) {
  p.setPen(QPen(c, 3));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(7.5, 6.5, 55, 55), 9, 9);
  p.setPen(QPen(c, 1));
  p.setFont(Bold(15));
  p.drawText(QRectF(38, 40, 20, 18), Qt::AlignRight | Qt::AlignBottom, QString::number(number));
}

// The slider: a slot with scale marks and the fader cap in the middle.
void Slider(QPainter& p, const QColor& c) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(c, 1.2));
  for (int i = 0; i <= 10; ++i) {  // scale marks above and below the slot
    const qreal x = 12 + i * 10.5;
    const qreal len = (i % 5 == 0) ? 6 : 3.5;
    p.drawLine(QPointF(x, 14 - len), QPointF(x, 14));
    p.drawLine(QPointF(x, 33), QPointF(x, 33 + len));
  }
  p.setPen(QPen(c, 2));
  p.drawRoundedRect(QRectF(8, 20.5, 113, 6), 3, 3);
  // the cap
  p.setBrush(Ground);
  p.setPen(QPen(c, 2.2));
  p.drawRoundedRect(QRectF(55, 6, 19, 35), 3, 3);
  p.setPen(QPen(c, 2));
  p.drawLine(QPointF(58.5, 23.5), QPointF(70.5, 23.5));
}

// A knob: a round cap with a pointer, a ring of scale dots and its number
// at the top right.
void Knob(QPainter& p, const QColor& c, int number) {
  const QPointF centre(35.5, 36);
  const qreal r = 19;
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  for (int i = 0; i <= 10; ++i) {  // 270 degrees of scale, gap at the bottom
    const qreal a = qDegreesToRadians(225.0 - i * 27.0);
    const QPointF at = centre + QPointF(qCos(a), -qSin(a)) * (r + 6);
    p.drawEllipse(at, 1.3, 1.3);
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(c, 3));
  p.drawEllipse(centre, r, r);
  p.setPen(QPen(c, 1.5));
  p.drawEllipse(centre, r - 6, r - 6);
  p.setPen(QPen(c, 3, Qt::SolidLine, Qt::RoundCap));
  const qreal a = qDegreesToRadians(120.0);
  p.drawLine(centre + QPointF(qCos(a), -qSin(a)) * 4, centre + QPointF(qCos(a), -qSin(a)) * (r - 2));
  p.setPen(QPen(c, 1));
  p.setFont(Bold(14));
  p.drawText(QRectF(54, 1, 18, 17), Qt::AlignRight | Qt::AlignTop, QString::number(number));
}

// The maker's logo, drawn in its 241 x 49 box on the window's background.
void Logo(QPainter& p) {
  const QColor white(0xFF, 0xFF, 0xFF), cyan(0x5B, 0xF0, 0xE1), magenta(0xF3, 0x72, 0xED);
  QPainterPath word;
  QFont f = Bold(44);
  f.setLetterSpacing(QFont::AbsoluteSpacing, -1);
  word.addText(QPointF(6, 36), f, QStringLiteral("vellox"));
  p.setPen(Qt::NoPen);
  p.setBrush(white);
  p.drawPath(word);
  const qreal right = word.boundingRect().right();
  // two stripes in the bank colours under the word
  p.setBrush(cyan);
  p.drawRoundedRect(QRectF(8, 41, (right - 8) / 2 - 2, 4), 2, 2);
  p.setBrush(magenta);
  p.drawRoundedRect(QRectF(8 + (right - 8) / 2 + 2, 41, (right - 8) / 2 - 2, 4), 2, 2);
}

// The application icon: a dark tile with a pad outline and a "v".
QImage Icon(int size) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x23, 0x19, 0x16));
  p.drawRoundedRect(QRectF(1, 1, 62, 62), 12, 12);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0x5B, 0xF0, 0xE1), 3));
  p.drawRoundedRect(QRectF(9, 9, 46, 46), 8, 8);
  QPainterPath v;
  v.addText(QPointF(0, 0), Bold(40), QStringLiteral("v"));
  const QRectF b = v.boundingRect();
  p.translate(32 - b.center().x(), 30 - b.center().y());
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xF3, 0x72, 0xED));
  p.drawPath(v);
  p.end();
  return img;
}

bool Save(const QImage& img, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  if (!img.save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("assets"));
  if (!dir.exists()) {
    std::fprintf(stderr, "no folder %s\n", qPrintable(dir.path()));
    return 1;
  }

  bool ok = true;
  for (int n = 1; n <= 21; ++n) {
    for (bool highlight : {false, true}) {
      const QColor c = highlight ? Hot : Line;
      QImage img;
      if (n <= 16) {
        const int number = (n - 1) % 8 + 1;
        img = Draw(70, 70, 70, 70, Ground, [&](QPainter& p) { Pad(p, c, number); });
      } else if (n == 17) {
        const QSize size = highlight ? QSize(110, 40) : QSize(180, 60);
        img = Draw(size.width(), size.height(), 129, 47, Ground, [&](QPainter& p) { Slider(p, c); });
      } else {
        img = Draw(70, 60, 75, 65, Ground, [&](QPainter& p) { Knob(p, c, n - 17); });
      }
      ok &= Save(img, dir, QStringLiteral("%1%2.bmp").arg(highlight ? "ImgData" : "ImgbData").arg(n));
    }
  }
  ok &= Save(Draw(530, 101, 241, 49, QColor(0x23, 0x19, 0x16), Logo), dir, QStringLiteral("logo.bmp"));
  ok &= Save(Icon(64), dir, QStringLiteral("MAINICON.png"));
  // The desktop's icons, at the sizes of the hicolor theme.
  if (argc > 2) {
    const QDir icons(QString::fromLocal8Bit(argv[2]));
    if (!icons.exists()) {
      std::fprintf(stderr, "no folder %s\n", qPrintable(icons.path()));
      return 1;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
      ok &= Save(Icon(size), icons, QStringLiteral("%1x%1.png").arg(size));
  }
  return ok ? 0 : 1;
}
