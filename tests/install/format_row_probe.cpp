// What the window makes of each row of the format table: a line per row with the 設定 menu's item
// of that label, the value its choice stores, and the format a new window reads back from it.
#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <iostream>

#include "app/unit1.h"
#include "hashes/formats.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  for (const hashes::TFormatRow& row : hashes::kFormatRows) {
    std::string menu = "-", stored = "-";
    {
      TForm1 form;
      for (QAction* item : form.findChild<QMenu*>(QStringLiteral("HashFormatMenu"))->actions())
        if (item->text().toStdString() == row.menu_label) menu = item->text().toStdString(), item->trigger();
    }
    stored = QSettings(QStringLiteral("Vastelo"), QStringLiteral("Vastelo")).value(QStringLiteral("hash/format")).toString().toStdString();
    const TForm1 again;
    std::cout << row.name << " menu=" << menu << " stored=" << stored << " read=" << hashes::RowOf(again.CurrentOptions().format).name << "\n";
  }
  return 0;
}
