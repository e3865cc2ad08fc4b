// One installation of Tolvane at a time. The setup program and the
// uninstaller hold the machine-wide lock Global\Tolvane.Setup (a mutex) for
// their whole run; an installation of a Windows Installer package of Tolvane
// marks itself with Global\Tolvane.Package (an event), which lives as long as
// the installation's custom action server, whose thread cannot hold a mutex
// for it. Both are made with an access list for SYSTEM and Administrators
// alone: one that exists with another owner or other access was made by
// someone else to hold every installation up, and is refused at once.
#pragma once

#include <windows.h>

enum class TLockResult {
  Held,    // the caller has it
  Busy,    // another installation has it (past the wait)
  Foreign, // someone else made it
  Package, // (setup) an installation of a package of Tolvane is running
};

// The setup program's lock, waiting up to waitMs for an installation that
// holds it, then the package's mark: Held only where neither another setup
// nor a package installation runs. The lock stays held until the process
// ends; the system releases it then, also when the process is killed.
TLockResult TakeSetupLock(DWORD waitMs);

// The package's mark, made unless a setup program or uninstaller runs (or
// another package installation): it stays until the process ends.
TLockResult MarkPackageInstallation();
