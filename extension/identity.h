// Who the extension is: the names every part that registers, installs or
// builds it takes from here (the module, the installers' checks, CMake for
// the module's file name, installer/product.sh for the setup program's and
// the packages' builds). The class identifier's binary form is CLSID_Tolvane
// (class_id.h).
#pragma once

#define TOLVANE_MODULE_NAME "PELLMORE"
#define TOLVANE_CLASS_ID "{241173B6-ABDF-4D59-8A15-476F7A327675}"
#define TOLVANE_CLASS_NAME "TTolvane"
#define TOLVANE_DESCRIPTION "Fennrick"
// The name of the handler keys and of the approval's data.
#define TOLVANE_HANDLER_NAME "Tolvane"
