#include "window_fixture.h"
TEST_F(WindowTest, ZzScratch) {
  for (bool utf8 : {false, true}) {
    Choose(hashes::Format::Des, utf8);
    Table().Strings().Clear(); Settle();
    ClickCell(1, 1);
    Type(QString::fromUtf8("p😀q"));
    std::printf("utf8=%d editor visible=%d text=%s\n", utf8, Editor()->isVisible(), Editor()->text().toStdString().c_str());
    Key(Qt::Key_Up);
    std::printf(" after Up: visible=%d text=%s errors=%zu\n", Editor()->isVisible(), Editor()->text().toStdString().c_str(), dialogs.errors.size());
    for (auto& e: dialogs.errors) std::printf("  err %s\n", e.toStdString().c_str());
    dialogs.errors.clear();
    for (auto& l : Lines()) std::printf("  line [%s]\n", platform::Cp932ToUtf8(l).c_str());
  }
}
