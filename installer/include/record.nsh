; record.nsh: the record of what setup created among the entries that
; unregistering keeps, kept in the Programs and Features entry's key (which
; ${RemoveEntry}, entry.nsh, deletes with it), and the removal of exactly
; that. Which entries those are, what is created and what may go, the checks
; DLL finds out from the module's own tables (checks.nsh; the record's
; format is in installer/checks/setup_record.h).
;
;   ${ReadRecord}     setup and uninstaller: $Installed = 1 when the entry is
;                     there (its DisplayName); $Recorded = 0.
;   ${RecordBefore}   setup, once the checks passed and before anything is
;                     registered: adds to the record what registration is
;                     about to create, and writes it at once, so that a setup
;                     that is killed, or loses power, leaves the record to
;                     the next setup and the uninstaller. $Recorded = 1 from
;                     then on.
;   ${EntryView}      sets the registry view of the entry and the record
;                     (entry.nsh too); the caller sets 32 again.
;   ${RemoveCreated}  setup's roll-back and the uninstaller, once the modules
;                     are unregistered and while the entry's key is there:
;                     removes what the record names, where nothing else uses
;                     it; .wav's default value as it was, unless the type it
;                     names holds more than ours then.
;
; Needs LogicLib.nsh, x64.nsh, checks.nsh and the define ARP_KEY.

!ifndef RECORD_NSH
!define RECORD_NSH

Var Installed        ; 1: an entry of an installed Tolvane was found
Var Recorded         ; 1: this setup has written what it is about to create

; EntryView: the registry view of the Programs and Features entry, and so of
; the record: the 64-bit one wherever there is one.
!define EntryView "!insertmacro EntryView"
!macro EntryView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

!define ReadRecord "!insertmacro ReadRecord"
!macro ReadRecord
  Push $R0
  ${EntryView}
  StrCpy $Installed 0
  StrCpy $Recorded 0
  ClearErrors
  ReadRegStr $R0 HKLM "${ARP_KEY}" "DisplayName"
  ${IfNot} ${Errors}
    StrCpy $Installed 1
  ${EndIf}
  ClearErrors
  SetRegView 32
  Pop $R0
!macroend

; RecordBefore OUT: OUT = "" once recorded, else why not.
!define RecordBefore "!insertmacro RecordBefore"
!macro RecordBefore OUT
  Push $0
  ${CallChecks} RecordCreations $0 ${OUT}
  ${If} $0 = 1
    StrCpy $Recorded 1
  ${ElseIf} $0 = -1
    StrCpy ${OUT} "Setup cannot run its checks (${CHECKS_FILE})."
  ${EndIf}
  Pop $0
!macroend

!define RemoveCreated "!insertmacro RemoveCreated"
!macro RemoveCreated
  Push $0
  Push $1
  ${CallChecks} RemoveCreations $0 $1
  Pop $1
  Pop $0
!macroend

!endif
