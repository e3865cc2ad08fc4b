// The entry point of PELLMORE.DLL: sets the module up when it is attached to a
// process and tears it down, in the opposite order, when it is unloaded.
#include <windows.h>

#include <exception>

#include "exports.h"
#include "server.h"
#include "shell_registration.h"
#include "tolvane_factory.h"
#include "wavfile.h"

// libstdc++'s own release of the memory it keeps for the life of the module:
// the reserve it throws exceptions from when the heap is exhausted. It has no
// destructor, so without this call every unload loses it. libc++abi's reserve
// is a static buffer inside the module, never taken from the heap: it goes
// with the image and needs no release.
#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __freeres() noexcept;
}
#elif !defined(_LIBCPP_VERSION)
#error "a C++ runtime whose reserve for exceptions is not known to be released"
#endif

namespace {

// GetVersionExA's platform identifier, or 0 when it cannot be had.
DWORD ReadPlatformId() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) ? info.dwPlatformId : 0;
}

// The extension's share of the start-up: no thread notifications, the
// platform identifier, and the factory (owned by the server from then on).
void StartTolvane(HINSTANCE instance) {
  DisableThreadLibraryCalls(instance);
  PlatformId = ReadPlatformId();
  new TTolvaneFactory(ServerInstance); // the server destroys its factories at teardown
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  try {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
      LoadDecimalSeparator();
      StartComServer();
      StartTolvane(instance);
      break;
    case DLL_PROCESS_DETACH:
      // A process that ends has already killed its other threads, perhaps
      // inside the factory list's lock, which the teardown would then wait
      // for forever; its memory goes with it anyway. Only an unload
      // (FreeLibrary, reserved null) tears the module down.
      if (!reserved) {
        StopComServer();
#if defined(__GLIBCXX__)
        // Frees the runtime's whole reserve, which a shared runtime's other
        // users would still need: sound only while the C++ runtime is linked
        // statically into this module, as the release checks guarantee
        // (system imports only: tests/release/check_release.sh and
        // tests/registration/check_dll_image.sh).
        __gnu_cxx::__freeres();
#endif
      }
      break;
    default:
      break;
    }
    return TRUE;
  } catch (...) {
    // The loader is no COM boundary, but no exception may reach it either: a
    // failed attach refuses the load.
    return FALSE;
  }
}
