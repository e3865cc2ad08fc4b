; pending.nsh: restart operations, on files setup moves aside and on files
; it has just put in place.
;
;   ${DeleteAtRestart} PATH  PATH (a file, or a folder empty by then) is
;                            deleted when Windows restarts. Unlike
;                            Delete /REBOOTOK, it does not ask for the
;                            restart: nothing waits for it.
;   ${CancelPending} PATHS   PATHS is "|path|path|...|": removes from
;                            PendingFileRenameOperations every operation
;                            that would delete, move or replace one of
;                            them (an uninstall whose restart was declined
;                            leaves such operations for the files and
;                            folders that were in use).
;
; Needs LogicLib.nsh. Paths compare without regard to case. The value is a
; REG_MULTI_SZ of pairs: source ("\??\C:\..."), then target ("" to delete,
; "\??\..." to move, "!\??\..." to replace).

!ifndef PENDING_NSH
!define PENDING_NSH

!define DeleteAtRestart "!insertmacro DeleteAtRestart"
!macro DeleteAtRestart PATH
  Push $0
  StrCpy $0 "${PATH}"
  System::Call 'kernel32::MoveFileExW(w r0, p 0, i 4)' ; MOVEFILE_DELAY_UNTIL_REBOOT
  Pop $0
!macroend

!define PENDING_KEY "SYSTEM\CurrentControlSet\Control\Session Manager"
!define PENDING_VALUE "PendingFileRenameOperations"

; _PendingPath OUT: OUT without the prefixes of a pending operation's path
; (uses $R9).
!macro _PendingPath OUT
  StrCpy $R9 ${OUT} 1
  ${If} $R9 == "!"
    StrCpy ${OUT} ${OUT} "" 1
  ${EndIf}
  StrCpy $R9 ${OUT} 4
  ${If} $R9 == "\??\"
    StrCpy ${OUT} ${OUT} "" 4
  ${EndIf}
  ; A folder's path may end in a backslash.
  StrCpy $R9 ${OUT} "" -1
  ${If} $R9 == "\"
    StrCpy ${OUT} ${OUT} -1
  ${EndIf}
!macroend

; _PendingOurs PATH OUT: OUT = 1 when PATH is one of the list in $R0, else 0
; (uses $R9).
!macro _PendingOurs PATH OUT
  StrCpy ${OUT} 0
  ${If} ${PATH} != ""
    StrCpy $R9 "|${PATH}|"
    System::Call 'shlwapi::StrStrIW(w R0, w R9) p .R9'
    ${If} $R9 P<> 0
      StrCpy ${OUT} 1
    ${EndIf}
  ${EndIf}
!macroend

Function CancelPending
  Exch $R0 ; the list
  Push $R1 ; key
  Push $R2 ; type, then the size in bytes
  Push $R3 ; buffer read
  Push $R4 ; buffer written
  Push $R5 ; read position
  Push $R6 ; write position
  Push $R7 ; end of what was read
  Push $R8 ; scratch
  Push $R9 ; scratch
  Push $0  ; source, then target
  Push $1  ; position of the target
  Push $2  ; position after the pair
  Push $3  ; operations cancelled
  StrCpy $3 0
  ; KEY_QUERY_VALUE | KEY_SET_VALUE
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${PENDING_KEY}", i 0, i 3, *p .R1) i .R8'
  ${If} $R8 = 0
    System::Call 'advapi32::RegQueryValueExW(p R1, w "${PENDING_VALUE}", p 0, *i .R2, p 0, *i .R8) i .R9'
    ${If} $R9 = 0
    ${AndIf} $R2 = 7 ; REG_MULTI_SZ
    ${AndIf} $R8 > 0
      StrCpy $R2 $R8
      IntOp $R8 $R2 + 4
      System::Alloc $R8
      Pop $R3
      System::Alloc $R8
      Pop $R4
      System::Call 'advapi32::RegQueryValueExW(p R1, w "${PENDING_VALUE}", p 0, p 0, p R3, *i R2) i .R9'
      StrCpy $R5 $R3
      StrCpy $R6 $R4
      IntOp $R7 $R3 + $R2
      ${DoWhile} $R5 U< $R7
        System::Call 'kernel32::lstrlenW(p R5) i .R8'
        ${If} $R8 = 0
          ${Break}
        ${EndIf}
        IntOp $1 $R8 + 1
        IntOp $1 $1 * 2
        IntOp $1 $R5 + $1
        System::Call 'kernel32::lstrlenW(p r1) i .R8'
        IntOp $2 $R8 + 1
        IntOp $2 $2 * 2
        IntOp $2 $1 + $2
        System::Call 'kernel32::lstrcpynW(w .r0, p R5, i ${NSIS_MAX_STRLEN})'
        !insertmacro _PendingPath $0
        !insertmacro _PendingOurs $0 $R8
        ${If} $R8 = 0
          System::Call 'kernel32::lstrcpynW(w .r0, p r1, i ${NSIS_MAX_STRLEN})'
          !insertmacro _PendingPath $0
          !insertmacro _PendingOurs $0 $R8
        ${EndIf}
        ${If} $R8 = 0
          IntOp $R9 $2 - $R5
          System::Call 'kernel32::RtlMoveMemory(p R6, p R5, i R9)'
          IntOp $R6 $R6 + $R9
        ${Else}
          System::Call 'kernel32::lstrcpynW(w .R9, p R5, i ${NSIS_MAX_STRLEN})'
          DetailPrint "Cancelled the restart operation on $R9."
          IntOp $3 $3 + 1
        ${EndIf}
        StrCpy $R5 $2
      ${Loop}
      ${If} $3 > 0
        ${If} $R6 = $R4
          System::Call 'advapi32::RegDeleteValueW(p R1, w "${PENDING_VALUE}")'
        ${Else}
          System::Call '*$R6(&i2 0)'
          IntOp $R6 $R6 + 2
          IntOp $R8 $R6 - $R4
          System::Call 'advapi32::RegSetValueExW(p R1, w "${PENDING_VALUE}", i 0, i 7, p R4, i R8) i .R9'
        ${EndIf}
      ${EndIf}
      System::Free $R3
      System::Free $R4
    ${EndIf}
    System::Call 'advapi32::RegCloseKey(p R1)'
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
  Pop $R9
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

!define CancelPending "!insertmacro CancelPending"
!macro CancelPending PATHS
  Push "${PATHS}"
  Call CancelPending
!macroend

!endif
