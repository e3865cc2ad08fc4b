// The entry point of PELLMORE.DLL: sets the module up when it is attached to a
// process and tears it down, in the opposite order, when it is unloaded.
#include <windows.h>

#include "server.h"
#include "server_lifetime.h"
#include "shell_registration.h"
#include "tolvane_factory.h"
#include "wavfile.h"

namespace {

// The extension's share of the start-up: no thread notifications, the
// platform identifier, and the factory (owned by the server from then on).
void StartTolvane(HINSTANCE instance) {
  DisableThreadLibraryCalls(instance);
  ReadPlatformId();
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
      if (!reserved)
        StopComServer();
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
