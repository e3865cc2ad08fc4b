// The module's terminate handler: abort at once. The runtime's default one
// writes the pending exception's demangled type to standard error, which a
// shell host does not have, and brings a symbol demangler of some 46 KiB into
// the DLL. Defined here, it takes the place of the runtime's own.
#include <cstdlib>
#include <exception>

void __gnu_cxx::__verbose_terminate_handler() {
  std::abort();
}
