#pragma once

namespace tarnex {

// Picks and runs the command of the system and action on the command line;
// returns the exit status.
int run_system();

int handle_cluster();
int handle_node();
int handle_service();

}  // namespace tarnex
