; one_at_a_time.nsh: setup and the uninstaller run one at a time on a
; machine, and not beside an installation of a Windows Installer package of
; Tolvane, which marks itself (Global\Tolvane.Package; setup_lock.h).
;
;   ${OneAtATime}   in .onInit of setup and of the uninstaller (CheckSystem,
;                   elevated.nsh), before anything is read or changed: waits
;                   up to ONE_AT_A_TIME_MS (60 s) for the machine-wide lock
;                   Global\Tolvane.Setup and holds it until the program
;                   ends; past that wait, or at once where the lock was made
;                   by someone else (another owner, or other access than
;                   SYSTEM's and Administrators') or a package's
;                   installation runs, it tells so and quits with
;                   error level 2, having changed nothing. Holding it, a
;                   program may remove what killed ones left (elevated.nsh).
;
; Needs LogicLib.nsh, checks.nsh (TOLVANE_CHECKS.DLL makes and checks the
; lock) and the define PRODUCT. The lock is owned by the thread of .onInit,
; which lives as long as the program; the system releases it when the
; program ends, also when it is killed.

!ifndef ONE_AT_A_TIME_NSH
!define ONE_AT_A_TIME_NSH

!ifndef ONE_AT_A_TIME_MS
  !define ONE_AT_A_TIME_MS 60000
!endif

!define OneAtATime "!insertmacro OneAtATime"
!macro OneAtATime
  Push $0
  Push $1
  Push ", i ${ONE_AT_A_TIME_MS}"
  Push HoldSetupLock
  Call _CallChecks
  Pop $1 ; the text
  Pop $0 ; 1 held, 0 busy, 2 someone else's
  ${If} $0 = 2
    MessageBox MB_ICONSTOP "$1" /SD IDOK
  ${ElseIf} $0 <> 1
    MessageBox MB_ICONSTOP "Another setup or uninstall of ${PRODUCT} is running. Try again when it has finished." /SD IDOK
  ${EndIf}
  ${If} $0 <> 1
    SetErrorLevel 2
    Quit
  ${EndIf}
  Pop $1
  Pop $0
!macroend

!endif
