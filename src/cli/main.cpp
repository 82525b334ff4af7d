#include "cli/command_line.hpp"

int main(int argc, char** argv) {
  return tarnex::run_program(argc, argv);
}
