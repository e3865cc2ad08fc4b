#include "shell_host.h"

#include "class_factory.h"
#include "class_id.h"
#include "class_manager.h"
#include "server.h"
#include "tolvane.h"
#include "tolvane_factory.h"

// ---------------------------------------------------------------------------
// Server and factory

TExtensionServer::TExtensionServer() {
  ServerInstance = new TComServer;
  Factory = new TTolvaneFactory(ServerInstance);
}

TExtensionServer::~TExtensionServer() {
  delete Factory;
  delete ServerInstance;
  ServerInstance = nullptr;
}

// ---------------------------------------------------------------------------
// Creating the extension

HRESULT CreateExtension(IDataObject* selection, IShellExtInit** init) {
  *init = nullptr;
  TComObjectFactory* factory = ClassManager().FindFactory(CLSID_Tolvane);
  if (!factory)
    return CLASS_E_CLASSNOTAVAILABLE;
  IClassFactory* classFactory = nullptr;
  HRESULT result =
      factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&classFactory));
  if (FAILED(result))
    return result;
  result = classFactory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(init));
  classFactory->Release();
  if (FAILED(result))
    return result;
  return (*init)->Initialize(nullptr, selection, nullptr);
}

TTolvane* ObjectOf(IShellExtInit* init) {
  return static_cast<TTolvane*>(init);
}
