; record.nsh: the record of what setup created among the entries that
; unregistering keeps (.wav's key and default value, the keys of each file
; type the module hooked and the parent keys of its name, the approval and
; its keys in each view), kept in the Programs and Features entry's key, and
; the removal of exactly that.
;
;   ${ReadRecord}     setup and uninstaller: $Installed = 1 when the entry is
;                     there (its DisplayName); loads $Created and $FileType.
;   ${RecordBefore} TYPE SETS
;                     setup, once the checks passed and before anything is
;                     registered: adds to the record what registration is
;                     about to create, whatever of it does not exist now
;                     (the keys of the file type TYPE and the parents of its
;                     name, .wav's key and, where SETS is 1, its default
;                     value, the approval and its keys; both from
;                     ${ModuleFileType}, checks.nsh), and writes it at
;                     once. A setup that is
;                     killed, or loses power, leaves the record to the next
;                     setup and the uninstaller; a setup over an installed
;                     Tolvane adds what it creates (below another file type,
;                     say, after another program took .wav over).
;                     $Recorded = 1 from then on.
;   ${EntryView}      sets the registry view of the entry and the record
;                     (entry.nsh too); the caller sets 32 again.
;   ${RemoveCreated}  setup's roll-back and the uninstaller, while the entry's
;                     key is there: removes what the record names, where
;                     nothing else uses it: for each file type recorded, our
;                     handler and the keys setup created; .wav's default
;                     value as it was, unless the type it names holds more
;                     than ours then.
;
; The record is kept in the entry's key, which ${RemoveEntry} (entry.nsh)
; deletes, in the values TolvaneCreated (CREATED_* bits: those of .wav and
; the approval, and those of the file type TolvaneFileType, the one hooked
; first), TolvaneWavDefaultBefore (.wav's default value before setup set it,
; when it had one: a copy of the value, of its type and bytes) and, for each
; file type hooked later, "TolvaneCreated TYPE" (the bits of
; CREATED_TYPE_BITS).
;
; Needs LogicLib.nsh, x64.nsh, Util.nsh, FileFunc.nsh and the defines CLSID,
; PRODUCT, DEFAULT_FILE_TYPE, ARP_KEY, EXTENSIONS_KEY, APPROVED_KEY.

!ifndef RECORD_NSH
!define RECORD_NSH

!define CREATED_WAV_KEY 1
!define CREATED_WAV_DEFAULT 2
!define CREATED_TYPE_KEY 4
!define CREATED_SHELLEX_KEY 8
!define CREATED_HANDLERS_KEY 16
!define CREATED_APPROVAL_64 32
!define CREATED_APPROVAL_32 64
!define CREATED_APPROVED_KEY_64 128
!define CREATED_APPROVED_KEY_32 256
!define CREATED_EXTENSIONS_KEY_64 512
!define CREATED_EXTENSIONS_KEY_32 1024
; Registration gives these keys an empty default value, also when they exist.
!define CREATED_SHELLEX_DEFAULT 2048
!define CREATED_HANDLERS_DEFAULT 4096
; The parent keys that a type name with backslashes makes (A\B\C: A\B and
; A), counted from the nearest: registration makes them top down, so those
; that were missing are always the nearest ones.
!define CREATED_TYPE_PARENTS 0xFF0000
!define CREATED_TYPE_PARENTS_SHIFT 16
!define CREATED_TYPE_BITS 0xFF181C
!define RECORD_TYPE_PREFIX "TolvaneCreated "

Var Installed        ; 1: an entry of an installed Tolvane was found
Var Recorded         ; 1: this setup has written what it is about to create
Var Created          ; CREATED_* bits
Var FileType         ; the file type hooked first

; KeyState ROOT KEY OUT: OUT = 0 when the key is missing, 1 when it is there
; and holds nothing but an empty default value, 2 otherwise.
!macro KeyState ROOT KEY OUT
  Push $R9
  ClearErrors
  EnumRegKey $R9 ${ROOT} "${KEY}" 0
  ${If} ${Errors}
    StrCpy ${OUT} 0
  ${ElseIf} $R9 != ""
    StrCpy ${OUT} 2
  ${Else}
    StrCpy ${OUT} 1
    ; The default value has the empty name, so the index also tells.
    ClearErrors
    EnumRegValue $R9 ${ROOT} "${KEY}" 0
    ${IfNot} ${Errors}
      ${If} $R9 != ""
        StrCpy ${OUT} 2
      ${Else}
        EnumRegValue $R9 ${ROOT} "${KEY}" 1
        ${IfNot} ${Errors}
          StrCpy ${OUT} 2
        ${Else}
          ReadRegStr $R9 ${ROOT} "${KEY}" ""
          ${If} ${Errors}
          ${OrIf} $R9 != ""
            StrCpy ${OUT} 2
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ClearErrors
  Pop $R9
!macroend

; The macros below use $R7 as scratch; the functions that use them keep it.

; Missing ROOT KEY BIT OUT: sets BIT in OUT when the key is not there.
!macro Missing ROOT KEY BIT OUT
  !insertmacro KeyState ${ROOT} "${KEY}" $R7
  ${If} $R7 = 0
    IntOp ${OUT} ${OUT} | ${BIT}
  ${EndIf}
!macroend

; MissingDefault ROOT KEY BIT OUT: sets BIT in OUT when the key has no
; default value.
!macro MissingDefault ROOT KEY BIT OUT
  ClearErrors
  ReadRegStr $R7 ${ROOT} "${KEY}" ""
  ${If} ${Errors}
    IntOp ${OUT} ${OUT} | ${BIT}
  ${EndIf}
  ClearErrors
!macroend

; RemoveDefaultIfCreated ROOT KEY BITS BIT: the empty default value
; registration gave a key that stays.
!macro RemoveDefaultIfCreated ROOT KEY BITS BIT
  IntOp $R7 ${BITS} & ${BIT}
  ${If} $R7 <> 0
    ClearErrors
    ReadRegStr $R7 ${ROOT} "${KEY}" ""
    ${IfNot} ${Errors}
    ${AndIf} $R7 == ""
      DeleteRegValue ${ROOT} "${KEY}" ""
    ${EndIf}
    ClearErrors
  ${EndIf}
!macroend

; RemoveIfCreatedAndEmpty ROOT KEY BITS BIT: the key, where BITS has BIT
; and it holds nothing but an empty default value.
!macro RemoveIfCreatedAndEmpty ROOT KEY BITS BIT
  IntOp $R7 ${BITS} & ${BIT}
  ${If} $R7 <> 0
    !insertmacro KeyState ${ROOT} "${KEY}" $R7
    ${If} $R7 = 1
      DeleteRegKey ${ROOT} "${KEY}"
    ${EndIf}
  ${EndIf}
!macroend

; ForEachTypeKey MACRO TYPE ARGS: MACRO KEY KEY_BIT DEFAULT_BIT ARGS for each
; key below HKCR that registration creates for the file type TYPE, deepest
; first; DEFAULT_BIT is that of the empty default value it gives the key, or
; 0.
!macro ForEachTypeKey MACRO TYPE ARGS
  !insertmacro ${MACRO} "${TYPE}\shellex\PropertySheetHandlers" ${CREATED_HANDLERS_KEY} ${CREATED_HANDLERS_DEFAULT} ${ARGS}
  !insertmacro ${MACRO} "${TYPE}\shellex" ${CREATED_SHELLEX_KEY} ${CREATED_SHELLEX_DEFAULT} ${ARGS}
  !insertmacro ${MACRO} "${TYPE}" ${CREATED_TYPE_KEY} 0 ${ARGS}
!macroend

; RecordTypeKey KEY KEY_BIT DEFAULT_BIT OUT: sets in OUT the bits of what
; of the key is missing.
!macro RecordTypeKey KEY KEY_BIT DEFAULT_BIT OUT
  !insertmacro Missing HKCR "${KEY}" ${KEY_BIT} ${OUT}
  !if ${DEFAULT_BIT} <> 0
    !insertmacro MissingDefault HKCR "${KEY}" ${DEFAULT_BIT} ${OUT}
  !endif
!macroend

; RemoveTypeKey KEY KEY_BIT DEFAULT_BIT BITS: what of the key BITS names.
!macro RemoveTypeKey KEY KEY_BIT DEFAULT_BIT BITS
  !insertmacro RemoveIfCreatedAndEmpty HKCR "${KEY}" ${BITS} ${KEY_BIT}
  !if ${DEFAULT_BIT} <> 0
    !insertmacro RemoveDefaultIfCreated HKCR "${KEY}" ${BITS} ${DEFAULT_BIT}
  !endif
!macroend

; ForEachView MACRO ARGS: MACRO VIEW ARGS in the 64-bit registry view where
; there is one, then in the 32-bit one, which stays set.
!macro ForEachView MACRO ARGS
  ${If} ${RunningX64}
    SetRegView 64
    !insertmacro ${MACRO} 64 ${ARGS}
  ${EndIf}
  SetRegView 32
  !insertmacro ${MACRO} 32 ${ARGS}
!macroend

; RecordApproval VIEW OUT: sets in OUT the bits of what of the approval and
; its keys is missing in the current registry view VIEW.
!macro RecordApproval VIEW OUT
  !insertmacro Missing HKLM "${EXTENSIONS_KEY}" ${CREATED_EXTENSIONS_KEY_${VIEW}} ${OUT}
  !insertmacro Missing HKLM "${APPROVED_KEY}" ${CREATED_APPROVED_KEY_${VIEW}} ${OUT}
  ClearErrors
  ReadRegStr $R7 HKLM "${APPROVED_KEY}" "${CLSID}"
  ${If} ${Errors}
    IntOp ${OUT} ${OUT} | ${CREATED_APPROVAL_${VIEW}}
  ${EndIf}
!macroend

; RemoveApproval VIEW BITS: what of the approval and its keys BITS names, in
; the current registry view VIEW.
!macro RemoveApproval VIEW BITS
  IntOp $R7 ${BITS} & ${CREATED_APPROVAL_${VIEW}}
  ${If} $R7 <> 0
    DeleteRegValue HKLM "${APPROVED_KEY}" "${CLSID}"
  ${EndIf}
  !insertmacro RemoveIfCreatedAndEmpty HKLM "${APPROVED_KEY}" ${BITS} ${CREATED_APPROVED_KEY_${VIEW}}
  !insertmacro RemoveIfCreatedAndEmpty HKLM "${EXTENSIONS_KEY}" ${BITS} ${CREATED_EXTENSIONS_KEY_${VIEW}}
!macroend

; EntryView: the registry view of the Programs and Features entry, and so of
; the record: the 64-bit one wherever there is one.
!define EntryView "!insertmacro EntryView"
!macro EntryView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

; _MergeCreated INTO BITS: INTO gets the bits of BITS, and the larger of the
; two parent counts. Uses $R7 and $R9.
!macro _MergeCreated INTO BITS
  IntOp $R7 ${BITS} & ${CREATED_TYPE_PARENTS}
  IntOp $R9 ${BITS} ^ $R7
  IntOp ${INTO} ${INTO} | $R9
  IntOp $R9 ${INTO} & ${CREATED_TYPE_PARENTS}
  ${If} $R7 > $R9
    IntOp ${INTO} ${INTO} ^ $R9
    IntOp ${INTO} ${INTO} | $R7
  ${EndIf}
!macroend

; _RecordWavDefault TO_RECORD: copies .wav's default value to the record's
; TolvaneWavDefaultBefore (TO_RECORD 1), or back (0), as stored: its type
; and all its bytes, those of a zero-length REG_DWORD or of a text after its
; first NUL too, none of which NSIS's own calls keep. Where the source has
; no such value, the target's goes.
!macro _RecordWavDefault TO_RECORD
  Push ${TO_RECORD}
  ${CallArtificialFunction} _RecordWavDefaultBody
!macroend
!macro _RecordWavDefaultBody
  Exch $0 ; 1: to the record; then the source's value name
  Push $1 ; the key of .wav
  Push $2 ; the entry's key
  Push $3 ; the source
  Push $4 ; the target
  Push $5 ; the target's value name
  Push $6 ; the value's type
  Push $7 ; its size
  Push $8 ; its data
  Push $9 ; results
  StrCpy $9 0x2001F ; KEY_READ | KEY_WRITE
  ${If} ${RunningX64}
    IntOp $9 $9 | 0x100 ; KEY_WOW64_64KEY: the entry's view
  ${EndIf}
  StrCpy $1 0
  StrCpy $2 0
  ; .wav is not made for the record: where it is missing, so is its value.
  ${If} $0 = 1
    System::Call 'advapi32::RegOpenKeyExW(p 0x80000000, w ".wav", i 0, i 0x20019, *p r1r1)'
    System::Call 'advapi32::RegCreateKeyExW(p 0x80000002, w "${ARP_KEY}", i 0, p 0, i 0, i r9, p 0, *p r2r2, p 0)'
    StrCpy $3 $1
    StrCpy $4 $2
    StrCpy $0 ""
    StrCpy $5 "TolvaneWavDefaultBefore"
  ${Else}
    System::Call 'advapi32::RegOpenKeyExW(p 0x80000000, w ".wav", i 0, i 0x2001F, *p r1r1)'
    System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${ARP_KEY}", i 0, i r9, *p r2r2)'
    StrCpy $3 $2
    StrCpy $4 $1
    StrCpy $0 "TolvaneWavDefaultBefore"
    StrCpy $5 ""
  ${EndIf}
  ${If} $4 P<> 0
    StrCpy $9 2 ; ERROR_FILE_NOT_FOUND
    ${If} $3 P<> 0
      System::Call 'advapi32::RegQueryValueExW(p r3, w r0, p 0, *i .r6, p 0, *i .r7) i .r9'
    ${EndIf}
    ${If} $9 = 0
      IntOp $8 $7 + 1
      System::Alloc $8
      Pop $8
      System::Call 'advapi32::RegQueryValueExW(p r3, w r0, p 0, *i .r6, p r8, *i r7r7) i .r9'
      ${If} $9 = 0
        System::Call 'advapi32::RegSetValueExW(p r4, w r5, i 0, i r6, p r8, i r7)'
      ${EndIf}
      System::Free $8
    ${Else}
      System::Call 'advapi32::RegDeleteValueW(p r4, w r5)'
    ${EndIf}
  ${EndIf}
  ${If} $1 P<> 0
    System::Call 'advapi32::RegCloseKey(p r1)'
  ${EndIf}
  ${If} $2 P<> 0
    System::Call 'advapi32::RegCloseKey(p r2)'
  ${EndIf}
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
!macroend

!define ReadRecord "!insertmacro CallArtificialFunction _ReadRecord"
!macro _ReadRecord
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
  ReadRegDWORD $Created HKLM "${ARP_KEY}" "TolvaneCreated"
  ${If} ${Errors}
    StrCpy $Created 0
  ${EndIf}
  ReadRegStr $FileType HKLM "${ARP_KEY}" "TolvaneFileType"
  ClearErrors
  SetRegView 32
  Pop $R0
!macroend

; _RecordRemoveType TYPE BITS: our handler and what BITS names of the keys
; of the file type TYPE.
!macro _RecordRemoveType TYPE BITS
  Push "${TYPE}"
  Push ${BITS}
  ${CallArtificialFunction} _RecordRemoveTypeBody
!macroend
!macro _RecordRemoveTypeBody
  Exch $R8 ; bits
  Exch
  Exch $R6 ; type
  Push $R7
  ; Unregistration takes the handler from the type .wav names then, which
  ; need not be this one.
  ReadRegStr $R7 HKCR "$R6\shellex\PropertySheetHandlers\${PRODUCT}" ""
  ${If} $R7 == "${CLSID}"
    DeleteRegKey HKCR "$R6\shellex\PropertySheetHandlers\${PRODUCT}"
  ${EndIf}
  !insertmacro ForEachTypeKey RemoveTypeKey $R6 $R8
  ; Then the parents of its name that setup made, nearest first, while
  ; they hold nothing.
  IntOp $R7 $R8 & ${CREATED_TYPE_PARENTS}
  IntOp $R7 $R7 >> ${CREATED_TYPE_PARENTS_SHIFT}
  ${DoWhile} $R7 > 0
    ${GetParent} $R6 $R6
    ${If} $R6 == ""
      ${Break}
    ${EndIf}
    !insertmacro KeyState HKCR $R6 $R8
    ${If} $R8 <> 1
      ${Break}
    ${EndIf}
    DeleteRegKey HKCR $R6
    IntOp $R7 $R7 - 1
  ${Loop}
  ClearErrors
  Pop $R7
  Pop $R6
  Pop $R8
!macroend

!define RemoveCreated "!insertmacro CallArtificialFunction _RemoveCreated"
!macro _RemoveCreated
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  ${If} $FileType != ""
    IntOp $R8 $Created & ${CREATED_TYPE_BITS}
    !insertmacro _RecordRemoveType $FileType $R8
  ${EndIf}
  ; The types hooked later, one "TolvaneCreated TYPE" value each.
  StrCpy $R5 0
  ${Do}
    ${EntryView}
    ClearErrors
    EnumRegValue $R6 HKLM "${ARP_KEY}" $R5
    ${If} ${Errors}
    ${OrIf} $R6 == ""
      ${Break}
    ${EndIf}
    ReadRegDWORD $R8 HKLM "${ARP_KEY}" $R6
    SetRegView 32
    StrCpy $R7 $R6 15
    ${If} $R7 S== "${RECORD_TYPE_PREFIX}"
      StrCpy $R6 $R6 "" 15
      !insertmacro _RecordRemoveType $R6 $R8
    ${EndIf}
    IntOp $R5 $R5 + 1
  ${Loop}
  SetRegView 32
  ; .wav's default value as it was, only while it still names the type set
  ; here, and that type holds nothing but what is ours: another program's
  ; entries there (a verb, a handler) stay, and so does the value that leads
  ; to them.
  IntOp $R7 $Created & ${CREATED_WAV_DEFAULT}
  ${If} $R7 <> 0
    ClearErrors
    ReadRegStr $R8 HKCR ".wav" ""
    ${IfNot} ${Errors}
    ${AndIf} $R8 S== "${DEFAULT_FILE_TYPE}"
      !insertmacro KeyState HKCR "${DEFAULT_FILE_TYPE}" $R7
      ${If} $R7 = 2
        DetailPrint "HKEY_CLASSES_ROOT\${DEFAULT_FILE_TYPE} holds other programs' entries: .wav keeps naming it."
      ${Else}
        !insertmacro _RecordWavDefault 0
      ${EndIf}
    ${EndIf}
  ${EndIf}
  !insertmacro RemoveIfCreatedAndEmpty HKCR ".wav" $Created ${CREATED_WAV_KEY}
  !insertmacro ForEachView RemoveApproval $Created
  ClearErrors
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
!macroend

Function RecordBefore
  Exch $R4 ; 1: the module sets .wav's default value
  Exch
  Exch $R6 ; the file type the module hooks
  Push $R5
  Push $R7
  Push $R8
  Push $R9
  StrCpy $R8 0
  !insertmacro Missing HKCR ".wav" ${CREATED_WAV_KEY} $R8
  ${If} $R4 = 1
    IntOp $R7 $Created & ${CREATED_WAV_DEFAULT}
    ${If} $R7 = 0
      IntOp $R8 $R8 | ${CREATED_WAV_DEFAULT}
      ; The value as it is, before the bit that says it is to be put back.
      !insertmacro _RecordWavDefault 1
    ${EndIf}
  ${EndIf}
  !insertmacro ForEachView RecordApproval $R8
  IntOp $Created $Created | $R8

  StrCpy $R8 0
  !insertmacro ForEachTypeKey RecordTypeKey $R6 $R8
  ; Registration makes the missing parents of a name with backslashes too.
  StrCpy $R5 $R6
  StrCpy $R9 0
  ${Do}
    ${GetParent} $R5 $R5
    ${If} $R5 == ""
      ${Break}
    ${EndIf}
    !insertmacro KeyState HKCR $R5 $R7
    ${If} $R7 <> 0
      ${Break}
    ${EndIf}
    IntOp $R9 $R9 + 1
  ${Loop}
  IntOp $R9 $R9 << ${CREATED_TYPE_PARENTS_SHIFT}
  IntOp $R8 $R8 | $R9
  ${If} $FileType == ""
    StrCpy $FileType $R6
  ${EndIf}

  ${EntryView}
  ; Key names do not tell case apart.
  ${If} $R6 == $FileType
    !insertmacro _MergeCreated $Created $R8
  ${Else}
    ClearErrors
    ReadRegDWORD $R5 HKLM "${ARP_KEY}" "${RECORD_TYPE_PREFIX}$R6"
    ${If} ${Errors}
      StrCpy $R5 0
    ${EndIf}
    !insertmacro _MergeCreated $R5 $R8
    WriteRegDWORD HKLM "${ARP_KEY}" "${RECORD_TYPE_PREFIX}$R6" $R5
  ${EndIf}
  WriteRegDWORD HKLM "${ARP_KEY}" "TolvaneCreated" $Created
  WriteRegStr HKLM "${ARP_KEY}" "TolvaneFileType" $FileType
  SetRegView 32
  StrCpy $Recorded 1
  ClearErrors
  Pop $R9
  Pop $R8
  Pop $R7
  Pop $R5
  Pop $R6
  Pop $R4
FunctionEnd

!define RecordBefore "!insertmacro RecordBefore"
!macro RecordBefore TYPE SETS
  Push "${TYPE}"
  Push "${SETS}"
  Call RecordBefore
!macroend

!endif
