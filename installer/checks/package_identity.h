// What identifies Tolvane's Windows Installer packages across releases: every
// package of every architecture and version carries this upgrade code, so a
// newer one replaces an older one and the setup program can find an installed
// package. It never changes.
#pragma once

#define TOLVANE_UPGRADE_CODE L"{695CEA22-1456-47CA-B50A-09999DB996CE}"
