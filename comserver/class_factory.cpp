#include "class_factory.h"

#include "class_manager.h"
#include "exceptions.h"
#include "message_box.h"
#include "module.h"
#include "registration.h"
#include "server.h"

namespace {

const TInterfaceEntry<TComObjectFactory> FactoryInterfaces[] = {
    {&IID_IClassFactory, InterfaceOf<TComObjectFactory, TComObjectFactory, IClassFactory>},
    {&IID_IUnknown, InterfaceOf<TComObjectFactory, TComObjectFactory, IClassFactory>},
};

// Shows the failure being handled, closed with a full stop unless its last
// character is a blank, a control character or one of "!" to ".". Failures
// outside the module's exception hierarchy show nothing. Call only inside a
// catch block.
void ReportCreationFailure() noexcept {
  try {
    std::optional<std::string> message = CurrentExceptionMessage();
    if (!message)
      return;
    if (!message->empty()) {
      const char* text = message->c_str();
      const char* last = CharPrevA(text, text + message->size());
      if (static_cast<unsigned char>(*last) > '.')
        *message += '.';
    }
    ShowMessageBox(nullptr, *message, LoadModuleString(SDAXError),
                   MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
  } catch (...) {
    // Nothing more can be reported; the caller still fails.
  }
}

} // namespace

const TComClassInfo<TComObjectFactory> TComObjectFactory::ClassInfo = {
    nullptr, FactoryInterfaces, sizeof FactoryInterfaces / sizeof FactoryInterfaces[0]};

TComObjectFactory::TComObjectFactory(TComServerObject* serverObject, TComObjectCreator objectClass,
                                     REFCLSID classId, const std::string& className,
                                     const std::string& description, TClassInstancing instancing,
                                     TThreadingModel threadingModel)
    : ServerObject(serverObject), ObjectClass(objectClass), ClassIdentifier(classId),
      ObjectClassName(className), ClassDescription(description), ErrorInterfaceId(IID_IUnknown),
      InstancingMode(instancing), ThreadingModel(threadingModel) {
  ClassManager().AddFactory(this);
}

TComObjectFactory::~TComObjectFactory() {
  try {
    ClassManager().RemoveFactory(this);
  } catch (...) {
    // Only the lock could raise; a destructor must not.
  }
}

std::string TComObjectFactory::BuildProgId() {
  if (ObjectClassName.empty())
    return std::string();
  return ServerObject->ServerBaseName() + "." + ObjectClassName;
}

TComObject* TComObjectFactory::CreateObject(IUnknown* outer) {
  return ObjectClass(*this, outer);
}

void TComObjectFactory::UpdateRegistration(bool registering) {
  if (InstancingMode == ciInternal)
    return;
  const TClassNames names = {ClassIdToText(ClassIdentifier), BuildProgId(), ClassDescription,
                             ServerObject->ServerKeyName(), ThreadingModel};
  if (registering) {
    const TModulePath module =
        RegisteredModulePath(ServerObject->ServerFilePath(), ServerObject->ServerFileWidePath());
    for (const TClassesEntry& entry : ClassRegistrationEntries(names, module))
      CreateClassesKey(entry);
  } else {
    for (const std::string& key : DeletionOrder(ClassRegistrationEntries(names, TModulePath())))
      DeleteClassesKey(key);
  }
}

STDMETHODIMP TComObjectFactory::QueryInterface(REFIID iid, void** ppv) {
  if (!ppv)
    return E_POINTER;
  return FindInterface(ClassInfo, this, iid, ppv) ? S_OK : E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TComObjectFactory::AddRef() {
  return ServerObject->TrackFactory(true);
}

STDMETHODIMP_(ULONG) TComObjectFactory::Release() {
  return ServerObject->TrackFactory(false);
}

STDMETHODIMP TComObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  // Only the outer object's request for the inner unknown can aggregate.
  if (outer && !IsEqualGUID(iid, IID_IUnknown))
    return CLASS_E_NOAGGREGATION;
  TComObject* object = nullptr;
  try {
    object = CreateObject(outer);
  } catch (...) {
    ReportCreationFailure();
    return CurrentExceptionResult(E_UNEXPECTED, E_UNEXPECTED);
  }
  HRESULT result = E_UNEXPECTED;
  try {
    result = object->InnerQueryInterface(iid, ppv);
  } catch (...) {
    // A descendant's lookup failed: not a creation failure, nothing to show.
    *ppv = nullptr;
  }
  // Nobody took a reference: the object would otherwise never die.
  if (object->ReferenceCount == 0)
    delete object;
  return result;
}

STDMETHODIMP TComObjectFactory::LockServer(BOOL lock) {
  HRESULT result = CoLockObjectExternal(static_cast<IClassFactory*>(this), lock, TRUE);
  ServerObject->TrackObject(lock != FALSE);
  return result;
}
