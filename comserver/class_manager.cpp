#include "class_manager.h"

#include "class_factory.h"

void TComClassManager::AddFactory(TComObjectFactory* factory) {
  TWriteLock lock(ListLock);
  factory->NextFactory = FirstFactory;
  FirstFactory = factory;
}

void TComClassManager::RemoveFactory(TComObjectFactory* factory) {
  TWriteLock lock(ListLock);
  for (TComObjectFactory** link = &FirstFactory; *link; link = &(*link)->NextFactory) {
    if (*link == factory) {
      *link = factory->NextFactory;
      factory->NextFactory = nullptr;
      return;
    }
  }
}

TComObjectFactory* TComClassManager::FindFactory(REFCLSID classId) {
  TReadLock lock(ListLock);
  for (TComObjectFactory* factory = FirstFactory; factory; factory = factory->NextFactory)
    if (IsEqualGUID(factory->ClassIdentifier, classId))
      return factory;
  return nullptr;
}

void TComClassManager::VisitFactories(TComServerObject* server,
                                      const std::function<void(TComObjectFactory&)>& action) {
  TWriteLock lock(ListLock);
  TComObjectFactory* factory = FirstFactory;
  while (factory) {
    // The action may unlink and destroy the factory it is given.
    TComObjectFactory* next = factory->NextFactory;
    if (factory->ServerObject == server)
      action(*factory);
    factory = next;
  }
}

namespace {
// Created on the first call, which happens during start-up before any other
// thread can enter the module; hence no lock.
TComClassManager* GClassManager = nullptr;
} // namespace

TComClassManager& ClassManager() {
  if (!GClassManager)
    GClassManager = new TComClassManager;
  return *GClassManager;
}

void DestroyClassManager() {
  delete GClassManager;
  GClassManager = nullptr;
}
