#include "app/command_line.h"
#include "app/main_sequence.h"

int main(int argc, char** argv) {
  const RunSettings settings = parse_command_line(argc, argv);
  return run_main_sequence(settings);
}
