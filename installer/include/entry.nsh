; entry.nsh: the Programs and Features entry.
;
;   ${WriteEntry} SIZE  setup: writes the entry of this version (or updates
;                       the one there), with the record of what the first
;                       setup created (record.nsh), in the 64-bit registry
;                       view wherever there is one. SIZE: the bytes of the
;                       modules installed (not of an old one left to the
;                       restart); the uninstaller in $INSTDIR is added.
;
; Needs LogicLib.nsh, x64.nsh, FileFunc.nsh, record.nsh and the defines
; PRODUCT, VERSION, PUBLISHER, ARP_KEY, UNINSTALLER.
;
; The QuietUninstallString returns when the uninstall is done, with its exit
; code (0, or 3010 when a restart finishes it). NSIS's uninstaller started
; plainly hands over to a temporary copy of itself and returns at once; run
; in place (_?=) it is waited for but cannot remove itself, since it keeps
; its own file open. So cmd, which is not in the folder, copies it to a new
; name in %TEMP% and waits for that copy, run with _?= (which takes the rest
; of the command line, blanks included); the copy removes the folder and
; leaves itself to the next restart, as NSIS's own copy does.

!ifndef ENTRY_NSH
!define ENTRY_NSH

Function WriteEntry
  Exch $R1
  Push $R0
  Push $R2
  Push $R3
  ${GetSize} "$INSTDIR" "/M=${UNINSTALLER} /S=0B /G=0" $R0 $R2 $R3
  IntOp $R1 $R1 + $R0
  IntOp $R1 $R1 / 1024
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  WriteRegStr HKLM "${ARP_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${ARP_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${ARP_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${ARP_KEY}" "EstimatedSize" $R1
  WriteRegDWORD HKLM "${ARP_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${ARP_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${ARP_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${ARP_KEY}" "QuietUninstallString" \
    '"$WINDIR\System32\cmd.exe" /d /v:on /s /c "set "uninstaller=%TEMP%\${PRODUCT}-uninstall-!RANDOM!.exe"&& copy /b /y "$INSTDIR\${UNINSTALLER}" "!uninstaller!" >nul && start "" /wait "!uninstaller!" /S _?=$INSTDIR"'
  ${WriteRecord}
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

!endif
