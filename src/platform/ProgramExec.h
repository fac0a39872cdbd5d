// Handing the process over to another program of this package.
//
// `ExecSibling` replaces the running process by the program `name` that lies in the same folder
// as the running executable (the build tree and an installed system alike), with the same
// process id and the arguments given (argv[0] included, so the program keeps the name it was
// started by). It returns only when that fails, with the errno of the failure. The `kairelon`
// program uses it to hand the tray program's modes to `kairelon-tray`, so that its headless
// modes never load the window libraries.
#pragma once

#include <string>

namespace kairelon {

int ExecSibling(const std::string& name, char** argv);

} // namespace kairelon
