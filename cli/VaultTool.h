// hollowbox-vault: the portable command-line tool over the vault reader and
// writer. The logic lives in hb_cli (ToolCommon plus one Command*.cpp per
// command) so tests can drive it in-process; main.cpp only wires it to the
// console.
#pragma once

#include <iosfwd>

// Runs one command line (argv[0] is the program name). Text output goes to
// out, messages to err. Progress is shown only when err is std::cerr and
// standard error is a terminal. Returns 0 on success, 1 on failure, 2 on a
// usage error.
int VaultToolMain(int argc, char** argv, std::ostream& out, std::ostream& err);

// Asks a running add to stop after the entry it is writing, ending the
// vault properly. Safe to call from a signal handler.
void RequestVaultToolStop();
