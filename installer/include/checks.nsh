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
;   ${CallChecks} EXPORT RESULT TEXT  any other export (record.nsh).
;
; Call them only once ${CheckSystem} (elevated.nsh) has made $PLUGINSDIR in
; Program Files, where no user can change a file: the DLL is unpacked there
; at the first call (which takes the lock of one installation at a time,
; one_at_a_time.nsh). Each call loads it by its full path (what it imports
; comes from the system folder) and unloads it, so that the folder can go
; when setup ends.
;
; Needs LogicLib.nsh and the define CHECKS_DLL (its x86 build).

!ifndef CHECKS_NSH
!define CHECKS_NSH

!insertmacro RequireDefine CHECKS_DLL
!define CHECKS_FILE "TOLVANE_CHECKS.DLL"

Var ChecksUnpacked

; _CallChecks: takes the name of an export and, below it, what it takes
; after its text buffer ("" or ", i N"); calls it with a buffer of
; NSIS_MAX_STRLEN characters, and leaves its result (-1 when the DLL or the
; export cannot be had) and, on top, its text.
Function _CallChecks
  Exch $0 ; the export, then its text
  Exch
  Exch $3 ; the other arguments
  Exch
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
    System::Call '::$2(w .r0, i ${NSIS_MAX_STRLEN}$3) i .r2'
  ${Else}
    StrCpy $0 ""
    StrCpy $2 -1
  ${EndIf}
  ${If} $1 P<> 0
    System::Call 'kernel32::FreeLibrary(p r1)'
  ${EndIf}
  StrCpy $1 $2
  Pop $2
  Exch $1 ; the result below, the module's register back
  Exch 2
  Pop $3
  Exch $0 ; the text on top
FunctionEnd

; CallChecks EXPORT RESULT TEXT: calls the export; RESULT = what it returns
; (-1 when the DLL or the export cannot be had), TEXT = its text.
!define CallChecks "!insertmacro CallChecks"
!macro CallChecks EXPORT RESULT TEXT
  Push ""
  Push ${EXPORT}
  Call _CallChecks
  Pop ${TEXT}
  Pop ${RESULT}
!macroend

!define InstalledPackage "!insertmacro InstalledPackage"
!macro InstalledPackage OUT
  Push $0
  ${CallChecks} InstalledPackage $0 ${OUT}
  Pop $0
!macroend

!define CheckRegistry "!insertmacro CheckRegistry"
!macro CheckRegistry OUT
  Push $0
  ${CallChecks} CheckRegistration $0 ${OUT}
  ${If} $0 = -1
    StrCpy ${OUT} "Setup cannot run its checks (${CHECKS_FILE})."
  ${ElseIf} $0 = 0
    StrCpy ${OUT} ""
  ${EndIf}
  Pop $0
!macroend

!endif
