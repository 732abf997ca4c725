// The window tests run in a real, offscreen Qt application, with a configuration of their own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/application.h"
#include "test_files.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The remembered choices of 設定 go to a folder that lives as long as the run, never to the
  // configuration of whoever runs the tests.
  const TempDir config;
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  testing::InitGoogleTest(&argc, argv);
  TApplication application(argc, argv);
  PrepareApplication();
  QApplication::setCursorFlashTime(0);  // a caret that does not blink is drawn alike in every picture
  return RUN_ALL_TESTS();
}
