#include "tolvane_factory.h"

#include "class_id.h"
#include "shell_registration.h"
#include "tolvane.h"

TTolvaneFactory::TTolvaneFactory(TComServerObject* serverObject)
    : TComObjectFactory(serverObject, ConstructComObject<TTolvane>, CLSID_Tolvane,
                        TolvaneClassName, TolvaneDescription, ciMultiInstance,
                        TolvaneThreadingModel) {}

void TTolvaneFactory::UpdateRegistration(bool registering) {
  TComObjectFactory::UpdateRegistration(registering);
  UpdateShellRegistration(ClassIdentifier, registering);
}
