; product.nsh: what setup (tolvane.nsi) and the uninstaller (uninstall.nsi)
; share: the attributes of both programs, the defines they need from the
; build (installer/build.sh) and the names of the product and its entries.
;
; Needs the defines VERSION, PUBLISHER, COPYRIGHT, X64_DLL, X86_DLL (the
; modules, whose version module.nsh checks), OUTFILE, and the module's
; identity MODULE_NAME, CLSID and PROGID (installer/build.sh reads them
; where the module's sources define them); ARM64_DLL where the build packs
; the ARM64 module.

!ifndef PRODUCT_NSH
!define PRODUCT_NSH

Unicode true
SetCompressor /SOLID lzma
; File dates would make two builds of the same files differ.
SetDateSave off
RequestExecutionLevel admin
ManifestSupportedOS all

!macro RequireDefine NAME
  !ifndef ${NAME}
    !error "makensis needs -D${NAME}=..."
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine PUBLISHER
!insertmacro RequireDefine COPYRIGHT
!insertmacro RequireDefine X64_DLL
!insertmacro RequireDefine X86_DLL
!insertmacro RequireDefine OUTFILE
!insertmacro RequireDefine MODULE_NAME
!insertmacro RequireDefine CLSID
!insertmacro RequireDefine PROGID

!ifdef TEST_ARM64_BRANCH
  !define /ifndef ARM64_DLL "${X64_DLL}"
!endif

!define PRODUCT "Tolvane"
!define MODULE "${MODULE_NAME}.DLL"
!define UNINSTALLER "uninstall.exe"
!define ARP_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!endif
