// The module's terminate handler: abort at once. The runtime's default one
// writes the pending exception's demangled type to standard error, which a
// shell host does not have, and brings a symbol demangler of some 46 KiB into
// the DLL. Defined here, it takes the place of libstdc++'s own. libc++abi's
// default handler is a variable that cannot be replaced at link time: the
// ARM64 toolchain (scripts/arm64-toolchain) builds it with abort as that
// default instead.
#include <cstdlib>
#include <exception>

#if defined(__GLIBCXX__)
void __gnu_cxx::__verbose_terminate_handler() {
  std::abort();
}
#elif !defined(_LIBCPP_VERSION)
#error "a C++ runtime whose default terminate handler is not known"
#endif
