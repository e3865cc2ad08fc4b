// The base of every COM object the server hands out: interface tables,
// interlocked reference counting, aggregation, live-object counting and
// ISupportErrorInfo.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

class TComObjectFactory;

// An interface a class lists: its identifier and how to reach the object's
// pointer for it. Base is the root of the class line (TComObject or
// TComObjectFactory).
template <class Base> struct TInterfaceEntry {
  const IID* Iid;
  IUnknown* (*Get)(Base* object);
};

// A class's own interface table and its parent's, walked descendant first.
template <class Base> struct TComClassInfo {
  const TComClassInfo* Parent;
  const TInterfaceEntry<Base>* Entries;
  std::size_t Count;
};

// The interface pointer of Interface on an object of Class.
template <class Base, class Class, class Interface> IUnknown* InterfaceOf(Base* object) {
  return static_cast<Interface*>(static_cast<Class*>(object));
}

// The first entry for iid in the class's table or its ancestors' tables.
template <class Base>
const TInterfaceEntry<Base>* FindInterfaceEntry(const TComClassInfo<Base>& cls, REFIID iid) {
  for (const TComClassInfo<Base>* c = &cls; c; c = c->Parent)
    for (std::size_t i = 0; i < c->Count; ++i)
      if (IsEqualGUID(*c->Entries[i].Iid, iid))
        return &c->Entries[i];
  return nullptr;
}

// On success *ppv holds a counted interface pointer; AddRef goes through that
// pointer (the inner unknown counts on the object, every other interface
// delegates).
template <class Base>
bool FindInterface(const TComClassInfo<Base>& cls, Base* object, REFIID iid, void** ppv) {
  const TInterfaceEntry<Base>* entry = FindInterfaceEntry(cls, iid);
  if (!entry) {
    *ppv = nullptr;
    return false;
  }
  IUnknown* unknown = entry->Get(object);
  *ppv = unknown;
  unknown->AddRef();
  return true;
}

// A hook through which an owner could report an object's failures itself.
// Nothing in the module sets one.
struct IServerExceptionHandler : public IUnknown {
  virtual void STDMETHODCALLTYPE OnException(const char* serverClass, const char* exceptionClass,
                                             const char* message, HRESULT code, BOOL* handled) = 0;
};

// Set once during shut-down; objects that die afterwards are neither counted
// out nor disconnected.
extern bool ComUninitializing;

class TComObject : public ISupportErrorInfo {
public:
  // Counts the object in; ReferenceCount is 1 until ConstructComObject ends.
  TComObject(TComObjectFactory& factory, IUnknown* outer);
  // Counts the object out and, when it dies with references left,
  // disconnects it.
  virtual ~TComObject();

  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  static const TComClassInfo<TComObject> ClassInfo;
  virtual const TComClassInfo<TComObject>& ComClass() const { return ClassInfo; }

  virtual void InitializeObject() {}
  virtual ULONG InnerAddRef();
  virtual HRESULT InnerQueryInterface(REFIID iid, void** ppv);
  virtual ULONG InnerRelease();

  // Delegating IUnknown: to the outer object when aggregated.
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

  // The non-delegating IUnknown of the object.
  IUnknown* InnerUnknown() { return &FInner; }

  IUnknown* OuterUnknown;
  TComObjectFactory* OwnerFactory;
  volatile LONG ReferenceCount;
  // A hook through which an owner could take over the reporting of the
  // object's failures: a counted reference, released with the object. Set by
  // a server that wants it; this module's objects have none.
  IServerExceptionHandler* ExceptionHandler = nullptr;

private:
  struct TInnerUnknown : public IUnknown {
    explicit TInnerUnknown(TComObject* owner) : Owner(owner) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    TComObject* Owner;
  };
  TInnerUnknown FInner;
};

// A descendant of Base that also implements Interfaces: the IUnknown methods
// of every interface come to the object's one delegating IUnknown.
template <class Base, class... Interfaces>
class TComImplements : public Base, public Interfaces... {
public:
  using Base::Base;
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) final {
    return TComObject::QueryInterface(iid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() final { return TComObject::AddRef(); }
  STDMETHODIMP_(ULONG) Release() final { return TComObject::Release(); }
};

using TComObjectCreator = TComObject* (*)(TComObjectFactory& factory, IUnknown* outer);

// Construction of an object of class T: counted in, InitializeObject run with
// a count of 1, then the count dropped to 0. When InitializeObject throws the
// object is destroyed (counted out, disconnected) and the exception passes on.
template <class T> TComObject* ConstructComObject(TComObjectFactory& factory, IUnknown* outer) {
  T* object = new T(factory, outer);
  try {
    object->InitializeObject();
  } catch (...) {
    delete static_cast<TComObject*>(object);
    throw;
  }
  --object->ReferenceCount; // nobody else knows the object yet
  return object;
}
