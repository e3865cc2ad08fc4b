// The class factory of one COM class.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "class_entries.h"
#include "com_object.h"
#include "registration.h"
#include "server.h"

class TComServerObject;

enum TClassInstancing : uint8_t { ciInternal = 0, ciSingleInstance = 1, ciMultiInstance = 2 };

class TComObjectFactory : public IClassFactory {
public:
  // Adds itself to the head of the class manager's list.
  TComObjectFactory(TComServerObject* serverObject, TComObjectCreator objectClass, REFCLSID classId,
                    const std::string& className, const std::string& description,
                    TClassInstancing instancing, TThreadingModel threadingModel);
  // Removes itself from the list.
  virtual ~TComObjectFactory();

  TComObjectFactory(const TComObjectFactory&) = delete;
  TComObjectFactory& operator=(const TComObjectFactory&) = delete;

  // Server base name + "." + class name; empty when the class name is.
  virtual std::string BuildProgId();
  // A new object of ObjectClass with a reference count of 0.
  virtual TComObject* CreateObject(IUnknown* outer);
  // Writes (true) or removes (false) the generic entries of the class.
  virtual void UpdateRegistration(bool registering);

  // IUnknown: references are counted only in the server's FactoryRefs.
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IClassFactory
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

  static const TComClassInfo<TComObjectFactory> ClassInfo;

  TComObjectFactory* NextFactory = nullptr; // maintained by the class manager
  TComServerObject* ServerObject;
  TComObjectCreator ObjectClass;
  CLSID ClassIdentifier;
  std::string ObjectClassName;
  std::string ClassDescription;
  // The interface under which failures of the class's objects would be
  // reported, for a server that reports them; IUnknown here, read by nobody.
  IID ErrorInterfaceId;
  TClassInstancing InstancingMode;
  TThreadingModel ThreadingModel;
};
