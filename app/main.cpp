#include <QIcon>

#include "app/failure_display.h"
#include "app/unit1.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  InstallFontSubstitutes();
  QIcon icon;
  icon.addFile(QStringLiteral(":/vastelo-16.xpm"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/vastelo-32.xpm"), QSize(32, 32));
  TApplication::setWindowIcon(icon);
  TForm1 Form1;
  Form1.show();
  return TApplication::exec();
}
