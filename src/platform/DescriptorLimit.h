// The process's limit of open descriptors.
//
// A server holds a descriptor for every client it serves and for the event loop of every
// connection thread. `RaiseDescriptorLimit` raises the soft limit to the hard one (which an
// unprivileged process may do) and returns the soft limit then in force, so the server can
// size itself to it.
#pragma once

namespace kairelon {

long RaiseDescriptorLimit(); // the soft limit in force afterwards; -1 when unknown
long DescriptorLimit();      // the soft limit now; -1 when unknown

} // namespace kairelon
