// Build-time converter: icon themes want PNG, while the application icon is drawn as XPM so that
// the window can use it from its resources. Converting at build time keeps the XPM the one
// drawing to edit, and costs the installed program nothing: this tool is never installed.
//
// Usage: vastelo_xpm_to_png INPUT.xpm OUTPUT.png SIZE
// Fails (exit 1) unless INPUT is a SIZE x SIZE image, so a resized drawing cannot land in the
// wrong hicolor folder unnoticed.
#include <QImage>
#include <QString>

#include <climits>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s INPUT.xpm OUTPUT.png SIZE\n", argv[0]);
    return 2;
  }
  // A SIZE that is not a number must fail as a usage error, not read as 0 and blame the image.
  char* end = nullptr;
  const long parsed = std::strtol(argv[3], &end, 10);
  if (end == argv[3] || *end != '\0' || parsed <= 0 || parsed > INT_MAX) {
    std::fprintf(stderr, "%s: SIZE must be a number of pixels, not %s\n", argv[0], argv[3]);
    return 2;
  }
  const int size = static_cast<int>(parsed);
  // QImage reads XPM and writes PNG with the handlers built into Qt Gui: no QGuiApplication,
  // no platform plugin and so no display is needed.
  QImage image(QString::fromLocal8Bit(argv[1]), "XPM");
  if (image.isNull()) {
    std::fprintf(stderr, "%s: cannot read %s as XPM\n", argv[0], argv[1]);
    return 1;
  }
  if (image.width() != size || image.height() != size) {
    std::fprintf(stderr, "%s: %s is %dx%d, expected %dx%d\n", argv[0], argv[1], image.width(),
                 image.height(), size, size);
    return 1;
  }
  // Straight (not premultiplied) RGBA: "None" pixels become alpha 0 and every other colour is
  // written exactly as the XPM names it.
  const QImage rgba = image.convertToFormat(QImage::Format_ARGB32);
  if (!rgba.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
    return 1;
  }
  return 0;
}
