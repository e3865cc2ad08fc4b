; one_at_a_time.nsh: setup and the uninstaller run one at a time on a
; machine.
;
;   ${OneAtATime}   in .onInit of setup and of the uninstaller (CheckSystem,
;                   elevated.nsh), before anything is read or changed: waits
;                   up to ONE_AT_A_TIME_MS (60 s) for the machine-wide mutex
;                   ONE_AT_A_TIME_MUTEX and holds it until the program ends;
;                   past that wait it tells so and quits with error level 2,
;                   having changed nothing. Holding it, a program may remove
;                   what killed ones left (elevated.nsh).
;
; Needs LogicLib.nsh and the define PRODUCT. The mutex is owned by the
; thread of .onInit, which lives as long as the program; the system releases
; it when the program ends, also when it is killed.

!ifndef ONE_AT_A_TIME_NSH
!define ONE_AT_A_TIME_NSH

!ifndef ONE_AT_A_TIME_MUTEX
  !define ONE_AT_A_TIME_MUTEX "Global\${PRODUCT}.Setup"
!endif
!ifndef ONE_AT_A_TIME_MS
  !define ONE_AT_A_TIME_MS 60000
!endif

!define OneAtATime "!insertmacro OneAtATime"
!macro OneAtATime
  Push $0
  Push $1
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${ONE_AT_A_TIME_MUTEX}") p .r0'
  StrCpy $1 -1
  ${If} $0 P<> 0
    System::Call 'kernel32::WaitForSingleObject(p r0, i ${ONE_AT_A_TIME_MS}) i .r1'
  ${EndIf}
  ; WAIT_OBJECT_0, or WAIT_ABANDONED when the holder ended without letting go.
  ${If} $1 <> 0
  ${AndIf} $1 <> 0x80
    MessageBox MB_ICONSTOP "Another setup or uninstall of ${PRODUCT} is running. Try again when it has finished." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  Pop $1
  Pop $0
!macroend

!endif
