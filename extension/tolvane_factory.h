// The extension's class factory: the generic COM entries of TTolvane plus the
// shell entries that hook it under the file type of ".wav".
#pragma once

#include "class_factory.h"
#include "tolvane_class.h"

class TComServerObject;

class TTolvaneFactory : public TComObjectFactory {
public:
  explicit TTolvaneFactory(TComServerObject* serverObject);

  // The generic entries first (their failures pass on), then the shell
  // entries (UpdateShellRegistration).
  void UpdateRegistration(bool registering) override;
};
