#include <clocale>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
  // The system's error texts in the user's language, as the window shows them.
  std::setlocale(LC_ALL, "");
  return cli::Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
