// The four exports of the module; the SDK headers declare them.
#include <windows.h>
#include <olectl.h>

#include "class_factory.h"
#include "class_manager.h"
#include "exceptions.h"
#include "server.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  try {
    TComObjectFactory* factory = ClassManager().FindFactory(rclsid);
    if (!factory)
      return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, ppv);
  } catch (...) {
    return CurrentExceptionResult(E_UNEXPECTED, E_UNEXPECTED);
  }
}

STDAPI DllCanUnloadNow() {
  TComServer* server = ServerInstance;
  if (!server)
    return S_OK;
  // Read without a lock: a count that moves meanwhile is the host's race.
  return server->LiveObjects == 0 && server->FactoryRefs == 0 ? S_OK : S_FALSE;
}

namespace {

// Registration tools read only the HRESULT; whatever failed is not shown here.
HRESULT UpdateServer(bool registering) {
  try {
    if (!ServerInstance)
      return E_FAIL;
    ServerInstance->UpdateServerRegistration(registering);
    return S_OK;
  } catch (...) {
    return CurrentExceptionResult(E_FAIL, E_FAIL);
  }
}

} // namespace

STDAPI DllRegisterServer() {
  return UpdateServer(true);
}

STDAPI DllUnregisterServer() {
  return UpdateServer(false);
}
