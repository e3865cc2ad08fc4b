#include "com_object.h"

#include "class_factory.h"
#include "server.h"

bool ComUninitializing = false;

namespace {

IUnknown* InnerUnknownOf(TComObject* object) {
  return object->InnerUnknown();
}

const TInterfaceEntry<TComObject> ComObjectInterfaces[] = {
    {&IID_ISupportErrorInfo, InterfaceOf<TComObject, TComObject, ISupportErrorInfo>},
    {&IID_IUnknown, InnerUnknownOf},
};

} // namespace

const TComClassInfo<TComObject> TComObject::ClassInfo = {
    nullptr, ComObjectInterfaces, sizeof ComObjectInterfaces / sizeof ComObjectInterfaces[0]};

TComObject::TComObject(TComObjectFactory& factory, IUnknown* outer)
    : OuterUnknown(outer), OwnerFactory(&factory), ReferenceCount(1), FInner(this) {
  OwnerFactory->ServerObject->TrackObject(true);
}

TComObject::~TComObject() {
  // After shut-down began, the server and the factories are gone.
  if (!ComUninitializing) {
    OwnerFactory->ServerObject->TrackObject(false);
    // Freed directly instead of by its last Release: drop outside connections.
    // COM may query and release the object here; with a count above 0 that
    // cannot bring it to 0 again.
    if (ReferenceCount > 0)
      CoDisconnectObject(&FInner, 0);
  }
  if (ExceptionHandler)
    ExceptionHandler->Release();
}

ULONG TComObject::InnerAddRef() {
  return InterlockedIncrement(&ReferenceCount);
}

HRESULT TComObject::InnerQueryInterface(REFIID iid, void** ppv) {
  if (!ppv)
    return E_POINTER;
  return FindInterface(ComClass(), this, iid, ppv) ? S_OK : E_NOINTERFACE;
}

ULONG TComObject::InnerRelease() {
  LONG count = InterlockedDecrement(&ReferenceCount);
  if (count == 0)
    delete this;
  return count;
}

STDMETHODIMP TComObject::QueryInterface(REFIID iid, void** ppv) {
  return OuterUnknown ? OuterUnknown->QueryInterface(iid, ppv) : InnerQueryInterface(iid, ppv);
}

STDMETHODIMP_(ULONG) TComObject::AddRef() {
  return OuterUnknown ? OuterUnknown->AddRef() : InnerAddRef();
}

STDMETHODIMP_(ULONG) TComObject::Release() {
  return OuterUnknown ? OuterUnknown->Release() : InnerRelease();
}

STDMETHODIMP TComObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return FindInterfaceEntry(ComClass(), iid) ? S_OK : S_FALSE;
}

STDMETHODIMP TComObject::TInnerUnknown::QueryInterface(REFIID iid, void** ppv) {
  return Owner->InnerQueryInterface(iid, ppv);
}

STDMETHODIMP_(ULONG) TComObject::TInnerUnknown::AddRef() {
  return Owner->InnerAddRef();
}

STDMETHODIMP_(ULONG) TComObject::TInnerUnknown::Release() {
  return Owner->InnerRelease();
}
