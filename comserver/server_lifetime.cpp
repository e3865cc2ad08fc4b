#include "server_lifetime.h"

#include "class_manager.h"
#include "com_object.h"
#include "server.h"

namespace {
HMODULE GOleAut = nullptr;
}

void StartComServer() {
  GOleAut = LoadLibraryA("OLEAUT32.DLL");
  ServerInstance = new TComServer();
}

void StopComServer() {
  delete ServerInstance;
  ServerInstance = nullptr;
  if (GOleAut)
    FreeLibrary(GOleAut);
  GOleAut = nullptr;
  ComUninitializing = true;
  DestroyClassManager();
}
