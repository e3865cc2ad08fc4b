; checks.nsh: what setup finds out before it changes anything, asked of
; TOLVANE_CHECKS.DLL (installer/checks), which is built from the module's own
; sources: the rules live once, in the code that registers the module
; (installer/checks/registration_checks.h lists them).
;
;   ${InstalledPackage} OUT  OUT = the product code of an installed Windows
;                           Installer package of Tolvane, or "".
;   ${CheckRegistry} OUT    OUT = "" when registration can do its work, else
;                           a sentence saying why it cannot: the registry
;                           states in which registering the module fails, or
;                           the page can never show.
;   ${ModuleFileType} TYPE SETS  TYPE = the file type the module hooks; SETS
;                           = 1 where registration sets .wav's default value
;                           to it, else 0 (record.nsh).
;
; Call them only once ${CheckSystem} (elevated.nsh) has made $PLUGINSDIR in
; Program Files, where no user can change a file, and holds the mutex: the
; DLL is unpacked there at the first call. Each call loads it by its full
; path (what it imports comes from the system folder) and unloads it, so
; that the folder can go when setup ends.
;
; Needs LogicLib.nsh and the define CHECKS_DLL (its x86 build).

!ifndef CHECKS_NSH
!define CHECKS_NSH

!insertmacro RequireDefine CHECKS_DLL
!define CHECKS_FILE "TOLVANE_CHECKS.DLL"

Var ChecksUnpacked

; _CallChecks: takes the name of an export, calls it with a buffer of
; NSIS_MAX_STRLEN characters, and leaves its result (-1 when the DLL or the
; export cannot be had) and, on top, its text.
Function _CallChecks
  Exch $0 ; the export, then its text
  Push $1 ; the module
  Push $2 ; the export, then the result
  ${If} $ChecksUnpacked != 1
    File "/oname=$PLUGINSDIR\${CHECKS_FILE}" "${CHECKS_DLL}"
    StrCpy $ChecksUnpacked 1
  ${EndIf}
  ; LOAD_WITH_ALTERED_SEARCH_PATH: its imports are looked for beside it,
  ; then in the system folder, never beside setup.
  System::Call 'kernel32::LoadLibraryExW(w "$PLUGINSDIR\${CHECKS_FILE}", p 0, i 0x8) p .r1'
  StrCpy $2 0
  ${If} $1 P<> 0
    System::Call 'kernel32::GetProcAddress(p r1, m r0) p .r2'
  ${EndIf}
  ${If} $2 P<> 0
    System::Call '::$2(w .r0, i ${NSIS_MAX_STRLEN}) i .r2'
  ${Else}
    StrCpy $0 ""
    StrCpy $2 -1
  ${EndIf}
  ${If} $1 P<> 0
    System::Call 'kernel32::FreeLibrary(p r1)'
  ${EndIf}
  StrCpy $1 $2
  Pop $2
  Exch $1
  Exch
  Exch $0
FunctionEnd

!define InstalledPackage "!insertmacro InstalledPackage"
!macro InstalledPackage OUT
  Push InstalledPackage
  Call _CallChecks
  ; The text; the result goes.
  Pop ${OUT}
  Exch ${OUT}
  Pop ${OUT}
!macroend

Function CheckRegistry
  Push $0
  Push $1
  Push CheckRegistration
  Call _CallChecks
  Pop $0
  Pop $1
  ${If} $1 = -1
    StrCpy $0 "Setup cannot run its checks (${CHECKS_FILE})."
  ${ElseIf} $1 = 0
    StrCpy $0 ""
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

!define CheckRegistry "!insertmacro CheckRegistry"
!macro CheckRegistry OUT
  Call CheckRegistry
  Pop ${OUT}
!macroend

Function ModuleFileType
  Push $0
  Push $1
  Push ModuleFileType
  Call _CallChecks
  Pop $0
  Pop $1
  ${If} $1 <> 1
    StrCpy $1 0
  ${EndIf}
  Exch $1
  Exch
  Exch $0
FunctionEnd

!define ModuleFileType "!insertmacro ModuleFileType"
!macro ModuleFileType TYPE SETS
  Call ModuleFileType
  Pop ${TYPE}
  Pop ${SETS}
!macroend

!endif
