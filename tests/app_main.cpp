// The window tests run in a real, offscreen Qt application.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/failure_display.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::InitGoogleTest(&argc, argv);
  TApplication application(argc, argv);
  PrepareApplication();
  return RUN_ALL_TESTS();
}
