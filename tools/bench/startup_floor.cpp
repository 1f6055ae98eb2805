// The floor of the start-up benchmark: a Qt window of the editor's size and
// title that shows one line of text in Liberation Sans bold, so that the
// font machinery (fontconfig, FreeType, HarfBuzz) loads as in any window
// with text. Nothing else.
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("vellox MIDI Editor V0.3"));
  window.resize(1070, 562);
  QLabel line(QStringLiteral("vellox MIDI Editor"), &window);
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(24);
  font.setBold(true);
  line.setFont(font);
  line.move(16, 16);
  line.adjustSize();
  window.show();
  return app.exec();
}
