#include "tolvane_factory.h"

#include "class_id.h"
#include "shell_registration.h"
#include "tolvane.h"

TTolvaneFactory::TTolvaneFactory(TComServerObject* serverObject)
    : TComObjectFactory(serverObject, ConstructComObject<TTolvane>, CLSID_Tolvane, "TTolvane",
                        "Fennrick", ciMultiInstance, tmApartment) {}

void TTolvaneFactory::UpdateRegistration(bool registering) {
  TComObjectFactory::UpdateRegistration(registering);
  UpdateShellRegistration(ClassIdentifier, registering);
}
