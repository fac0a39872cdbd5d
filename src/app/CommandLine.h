// The command line of the `kairelon` program.
//
// Parses the arguments, prints help and version, and starts the chosen mode: without
// arguments the tray program, otherwise one of the headless modes, each of which runs on a
// plain QCoreApplication so it needs no display. Returns the process exit status.
#pragma once

namespace kairelon {

int RunKairelon(int argc, char** argv);

} // namespace kairelon
