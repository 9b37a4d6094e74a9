#include <iostream>
#include <string_view>
#include <vector>

#include "vexlo/app/run.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv, argv + argc);
  return vexlo::run(args, std::cout, std::cerr);
}
