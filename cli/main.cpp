#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
  // The system's error texts in the user's language, as the window shows them.
  std::setlocale(LC_ALL, "");
  // argv[0] is the program's name, when the one who started it gave one.
  return cli::Run(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}
