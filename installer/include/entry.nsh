; entry.nsh: the Programs and Features entry.
;
;   ${WriteEntry} SIZE  setup: writes the entry of this version (or updates
;                       the one there) beside the record of what setup
;                       created (record.nsh), in the 64-bit registry
;                       view wherever there is one. SIZE: the bytes of the
;                       modules installed (not of an old one left to the
;                       restart); the uninstaller in $INSTDIR is added.
;   ${RemoveEntry}      setup's roll-back of a first setup, and the
;                       uninstaller: deletes the entry's key, and with it the
;                       record of what setup created.
;
; Needs LogicLib.nsh, x64.nsh, FileFunc.nsh, record.nsh and the defines
; PRODUCT, VERSION, PUBLISHER, ARP_KEY, UNINSTALLER.
;
; Both uninstall strings start uninstall.exe, which runs the uninstaller from
; a folder of its own and returns when it is done, with its exit code (0, 2,
; or 3010 when a restart finishes it): uninstaller.nsh.

!ifndef ENTRY_NSH
!define ENTRY_NSH

Function WriteEntry
  Exch $R1
  Push $R0
  Push $R2
  Push $R3
  ${GetSize} "$INSTDIR" "/M=uninstall.* /S=0B /G=0" $R0 $R2 $R3
  IntOp $R1 $R1 + $R0
  IntOp $R1 $R1 / 1024
  ${EntryView}
  WriteRegStr HKLM "${ARP_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${ARP_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${ARP_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${ARP_KEY}" "EstimatedSize" $R1
  WriteRegDWORD HKLM "${ARP_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${ARP_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${ARP_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${ARP_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  SetRegView 32
  Pop $R3
  Pop $R2
  Pop $R0
  Pop $R1
FunctionEnd

!define WriteEntry "!insertmacro WriteEntry"
!macro WriteEntry SIZE
  Push ${SIZE}
  Call WriteEntry
!macroend

!define RemoveEntry "!insertmacro RemoveEntry"
!macro RemoveEntry
  ${EntryView}
  DeleteRegKey HKLM "${ARP_KEY}"
  SetRegView 32
!macroend

!endif
