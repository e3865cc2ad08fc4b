; record.nsh: the record of what setup created among the entries that
; unregistering keeps (.wav's key and default value, the keys of each file
; type the module hooked, the approval and its keys in each view), kept in
; the Programs and Features entry's key, and the removal of exactly that.
;
;   ${ReadRecord}     setup and uninstaller: $Installed = 1 when the entry is
;                     there (its DisplayName); loads $Created, $FileType and
;                     .wav's former default value.
;   ${RecordBefore} TYPE
;                     setup, once the checks passed and before anything is
;                     registered: adds to the record what registration is
;                     about to create, whatever of it does not exist now
;                     (the keys of the file type TYPE, .wav's key and default
;                     value, the approval and its keys), and writes it at
;                     once. A setup that is killed, or loses power, leaves the
;                     record to the next setup and the uninstaller; a setup
;                     over an installed Tolvane adds what it creates (below
;                     another file type, say, after another program took .wav
;                     over). $Recorded = 1 from then on.
;   ${EntryView}      sets the registry view of the entry and the record
;                     (entry.nsh too); the caller sets 32 again.
;   ${RemoveCreated}  setup's roll-back and the uninstaller: removes what the
;                     record names, where nothing else uses it: for each file
;                     type recorded, our handler and the keys setup created.
;
; The record is kept in the entry's key, which ${RemoveEntry} (entry.nsh)
; deletes, in the values TolvaneCreated (CREATED_* bits: those of .wav and
; the approval, and those of the file type TolvaneFileType, the one hooked
; first), TolvaneWavDefaultBefore (.wav's default value before setup set it,
; when it had one) and, for each file type hooked later, "TolvaneCreated
; TYPE" (the bits of CREATED_TYPE_BITS).
;
; Needs LogicLib.nsh, x64.nsh, Util.nsh and the defines CLSID, PRODUCT,
; DEFAULT_FILE_TYPE, ARP_KEY, EXTENSIONS_KEY, APPROVED_KEY.

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
!define CREATED_TYPE_BITS 0x181C
!define RECORD_TYPE_PREFIX "TolvaneCreated "

Var Installed        ; 1: an entry of an installed Tolvane was found
Var Recorded         ; 1: this setup has written what it is about to create
Var Created          ; CREATED_* bits
Var FileType         ; the file type hooked first
Var WavDefaultBefore
Var HadWavDefault

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
  ReadRegStr $WavDefaultBefore HKLM "${ARP_KEY}" "TolvaneWavDefaultBefore"
  ${If} ${Errors}
    StrCpy $HadWavDefault 0
  ${Else}
    StrCpy $HadWavDefault 1
  ${EndIf}
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
  ; .wav's default value only while it still names the type set here.
  IntOp $R7 $Created & ${CREATED_WAV_DEFAULT}
  ${If} $R7 <> 0
    ClearErrors
    ReadRegStr $R8 HKCR ".wav" ""
    ${IfNot} ${Errors}
    ${AndIf} $R8 S== "${DEFAULT_FILE_TYPE}"
      ${If} $HadWavDefault = 1
        WriteRegStr HKCR ".wav" "" $WavDefaultBefore
      ${Else}
        DeleteRegValue HKCR ".wav" ""
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
  Exch $R6 ; the file type the module hooks
  Push $R5
  Push $R7
  Push $R8
  Push $R9
  StrCpy $R8 0
  !insertmacro Missing HKCR ".wav" ${CREATED_WAV_KEY} $R8
  ; The module sets .wav's default value where it names no type.
  ClearErrors
  ReadRegStr $R9 HKCR ".wav" ""
  StrCpy $R5 1
  ${If} ${Errors}
    StrCpy $R5 0
  ${EndIf}
  ${If} $R9 S!= $R6
    IntOp $R7 $Created & ${CREATED_WAV_DEFAULT}
    ${If} $R7 = 0
      IntOp $R8 $R8 | ${CREATED_WAV_DEFAULT}
      StrCpy $WavDefaultBefore $R9
      StrCpy $HadWavDefault $R5
    ${EndIf}
  ${EndIf}
  ClearErrors
  !insertmacro ForEachView RecordApproval $R8
  IntOp $Created $Created | $R8

  StrCpy $R8 0
  !insertmacro ForEachTypeKey RecordTypeKey $R6 $R8
  ${If} $FileType == ""
    StrCpy $FileType $R6
  ${EndIf}

  ${EntryView}
  ; Key names do not tell case apart.
  ${If} $R6 == $FileType
    IntOp $Created $Created | $R8
  ${Else}
    ClearErrors
    ReadRegDWORD $R5 HKLM "${ARP_KEY}" "${RECORD_TYPE_PREFIX}$R6"
    ${If} ${Errors}
      StrCpy $R5 0
    ${EndIf}
    IntOp $R5 $R5 | $R8
    WriteRegDWORD HKLM "${ARP_KEY}" "${RECORD_TYPE_PREFIX}$R6" $R5
  ${EndIf}
  WriteRegDWORD HKLM "${ARP_KEY}" "TolvaneCreated" $Created
  WriteRegStr HKLM "${ARP_KEY}" "TolvaneFileType" $FileType
  ${If} $HadWavDefault = 1
    WriteRegStr HKLM "${ARP_KEY}" "TolvaneWavDefaultBefore" $WavDefaultBefore
  ${EndIf}
  SetRegView 32
  StrCpy $Recorded 1
  ClearErrors
  Pop $R9
  Pop $R8
  Pop $R7
  Pop $R5
  Pop $R6
FunctionEnd

!define RecordBefore "!insertmacro RecordBefore"
!macro RecordBefore TYPE
  Push "${TYPE}"
  Call RecordBefore
!macroend

!endif
