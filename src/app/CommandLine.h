// The command line of the `kairelon` program.
//
// Parses the arguments, prints help and version, and starts the chosen mode: without
// arguments the tray program, otherwise one of the headless modes, each of which runs on a
// plain QCoreApplication so it needs no display. Returns the process exit status.
//
// This module needs no widgets. The tray program's modes (no mode, or `--quit`) are handed to
// a `TrayRunner`: in `kairelon` that is `ExecTrayProgram`, which replaces the process by the
// `kairelon-tray` executable beside it with the same arguments; `kairelon-tray` parses them
// again and runs the tray program itself. So `kairelon --query`, `--sync-now` and
// `--headless` never load or initialise the window libraries.
#pragma once

namespace kairelon {

// What the command line asks of the tray program.
struct TrayRequest {
    bool quit = false;   // `--quit`: ask the running tray program to quit
    bool dryRun = false; // `--dry-run`: never change the clock
};
using TrayRunner = int (*)(int argc, char** argv, const TrayRequest& request);

int RunKairelon(int argc, char** argv, TrayRunner runTray);

// The runner of the `kairelon` program: replaces the process by `kairelon-tray` with the same
// arguments; returns 1 with the reason on standard error only when that cannot be done.
int ExecTrayProgram(int argc, char** argv, const TrayRequest& request);

} // namespace kairelon
