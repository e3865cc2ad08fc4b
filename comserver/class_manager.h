// The list of the module's class factories, threaded through the factories.
#pragma once

#include <windows.h>

#include <functional>

#include "rw_lock.h"

class TComObjectFactory;
class TComServerObject;

class TComClassManager {
public:
  // Under the write lock: puts the factory at the head of the list.
  void AddFactory(TComObjectFactory* factory);
  // Under the write lock: unlinks this very factory; absent ones are ignored.
  void RemoveFactory(TComObjectFactory* factory);
  // Under the read lock: the newest factory with this class identifier, or null.
  TComObjectFactory* FindFactory(REFCLSID classId);
  // Holds the write lock for the whole walk, also when the action throws.
  // Reads each factory's link before the action runs, so the action may
  // remove and destroy the factory it is given.
  void VisitFactories(TComServerObject* server,
                      const std::function<void(TComObjectFactory&)>& action);

  TComObjectFactory* FirstFactory = nullptr;
  TMultiReadExclusiveWriteSynchronizer ListLock;
};

// The one list, created on the first call (during start-up).
TComClassManager& ClassManager();
// Last step of teardown: frees the list and its lock.
void DestroyClassManager();
