// The kwhost program: plug-in modules driven headless from JSON scenes.
#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
  return kwcli::RunKwhost(argc, argv, std::cout, std::cerr);
}
