// Loading an optional library of the program at run time.
//
// `LoadLibrary` loads the shared object at a path and keeps it loaded until the program ends
// (its static initialisers run, so resources it carries are registered with the component
// framework). Nothing is looked up in it here; the caller finds what it needs through the
// framework. A file that is not a loadable library is a failure with the system's reason.
#pragma once

#include <string>

namespace kairelon {

// True when the library is loaded (now or before). On failure `reason`, when given, gets the
// system's description.
bool LoadLibrary(const std::string& path, std::string* reason = nullptr);

} // namespace kairelon
