// The extension's class factory: the generic COM entries of TTolvane plus the
// shell entries that hook it under the file type of ".wav".
#pragma once

#include "class_factory.h"

class TComServerObject;

// The class's names and threading model, which setup's checks share
// (installer/checks): its ProgID is the module's base name, ".", the class
// name.
inline constexpr char TolvaneClassName[] = "TTolvane";
inline constexpr char TolvaneDescription[] = "Fennrick";
inline constexpr TThreadingModel TolvaneThreadingModel = tmApartment;

class TTolvaneFactory : public TComObjectFactory {
public:
  explicit TTolvaneFactory(TComServerObject* serverObject);

  // The generic entries first (their failures pass on), then the shell
  // entries (UpdateShellRegistration).
  void UpdateRegistration(bool registering) override;
};
