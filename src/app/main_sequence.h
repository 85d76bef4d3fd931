// The main sequence: start-up, the frame loop, and the orderly release.
#pragma once

#include "app/command_line.h"

// Returns 0 once standard input has ended; every failure ends the process.
int run_main_sequence(const RunSettings& settings);
