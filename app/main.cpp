#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/failure_display.h"
#include "app/unit1.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  InstallFontSubstitutes();
  // The window speaks Japanese whatever the desktop's language, so Qt's own dialogs should too,
  // where Qt's translations are installed.
  QTranslator qt_japanese;
  if (qt_japanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    TApplication::installTranslator(&qt_japanese);
  QIcon icon;
  icon.addFile(QStringLiteral(":/vastelo-16.xpm"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/vastelo-32.xpm"), QSize(32, 32));
  TApplication::setWindowIcon(icon);
  TForm1 Form1;
  Form1.show();
  return TApplication::exec();
}
