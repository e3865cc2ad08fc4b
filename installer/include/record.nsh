; record.nsh: the record of what the first setup created among the entries
; that unregistering keeps (the ".wav" key and default value, the file
; type's keys, the approval and its keys in each view), and the removal of
; exactly that.
;
;   ${RecordBefore}    setup, before the first registration on this system:
;                      notes which of those entries exist already.
;   ${RecordAfter}     setup, after registering (or a failed attempt): sets
;                      $Created (CREATED_* bits) and $FileType from what
;                      registration added.
;   ${ReadRecord}      setup and uninstaller: loads $Created, $FileType and
;                      .wav's former default value from the Programs and
;                      Features entry; $Installed = 1 when there is one.
;   ${WriteRecord}     setup, with the entry's view set: stores them there.
;   ${RemoveCreated}   setup's roll-back and the uninstaller: removes what
;                      $Created names, where nothing else uses it.
;
; Needs LogicLib.nsh, x64.nsh and the defines CLSID, PRODUCT, PROGID,
; DEFAULT_FILE_TYPE, ARP_KEY, EXTENSIONS_KEY, APPROVED_KEY. A setup over an
; installed Tolvane keeps the record of the first one: what the user had
; before it must stay when the last uninstall comes.

!ifndef RECORD_NSH
!define RECORD_NSH

; Bits of the entry's private value TolvaneCreated.
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
; Every bit but CREATED_WAV_DEFAULT, which is not told by existence alone.
!define CREATED_BY_EXISTENCE 0x1FFD

Var Installed    ; 1: an entry of an installed Tolvane was found
Var Created      ; CREATED_* bits
Var Existed      ; the same bits for what was there before registration
Var FileType     ; the file type .wav names once the module is registered
Var WavDefaultBefore
Var HadWavDefault
; Key existence before registration, for the type .wav named then (Named*)
; and for the type registration writes when it names none (Default*).
Var NamedType
Var NamedTypeKeys
Var DefaultTypeKeys

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

; KeyExists ROOT KEY BIT: sets BIT in $R8 when the key is there.
!macro KeyExists ROOT KEY BIT
  !insertmacro KeyState ${ROOT} "${KEY}" $R7
  ${If} $R7 <> 0
    IntOp $R8 $R8 | ${BIT}
  ${EndIf}
!macroend

; DefaultExists ROOT KEY BIT: sets BIT in $R8 when the key has a default
; value.
!macro DefaultExists ROOT KEY BIT
  ClearErrors
  ReadRegStr $R7 ${ROOT} "${KEY}" ""
  ${IfNot} ${Errors}
    IntOp $R8 $R8 | ${BIT}
  ${EndIf}
  ClearErrors
!macroend

; RemoveDefaultIfCreated ROOT KEY BIT: the empty default value registration
; gave a key that stays.
!macro RemoveDefaultIfCreated ROOT KEY BIT
  IntOp $R7 $Created & ${BIT}
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

; RemoveIfCreatedAndEmpty ROOT KEY BIT
!macro RemoveIfCreatedAndEmpty ROOT KEY BIT
  IntOp $R7 $Created & ${BIT}
  ${If} $R7 <> 0
    !insertmacro KeyState ${ROOT} "${KEY}" $R7
    ${If} $R7 = 1
      DeleteRegKey ${ROOT} "${KEY}"
    ${EndIf}
  ${EndIf}
!macroend

; The approval value and its keys in the current registry view.
!macro RemoveApproval CREATED_APPROVAL CREATED_APPROVED_KEY CREATED_EXTENSIONS_KEY
  IntOp $R7 $Created & ${CREATED_APPROVAL}
  ${If} $R7 <> 0
    DeleteRegValue HKLM "${APPROVED_KEY}" "${CLSID}"
  ${EndIf}
  !insertmacro RemoveIfCreatedAndEmpty HKLM "${APPROVED_KEY}" ${CREATED_APPROVED_KEY}
  !insertmacro RemoveIfCreatedAndEmpty HKLM "${EXTENSIONS_KEY}" ${CREATED_EXTENSIONS_KEY}
!macroend

; The view of the entry: the 64-bit one wherever there is one.
!macro _RecordEntryView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

!macro _RecordDefineBoth PREFIX
Function ${PREFIX}ReadRecord
  Push $R0
  !insertmacro _RecordEntryView
  StrCpy $Installed 0
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
FunctionEnd

; What unregistration keeps and setup created: the handler's keys, the .wav
; default value and key, the approval in both views.
Function ${PREFIX}RemoveCreated
  Push $R7
  Push $R8
  ${If} $FileType != ""
    ; Unregistration takes the handler from the type .wav names then, which
    ; need not be the one named at setup.
    ReadRegStr $R8 HKCR "$FileType\shellex\PropertySheetHandlers\${PRODUCT}" ""
    ${If} $R8 == "${CLSID}"
      DeleteRegKey HKCR "$FileType\shellex\PropertySheetHandlers\${PRODUCT}"
    ${EndIf}
    !insertmacro RemoveIfCreatedAndEmpty HKCR "$FileType\shellex\PropertySheetHandlers" ${CREATED_HANDLERS_KEY}
    !insertmacro RemoveDefaultIfCreated HKCR "$FileType\shellex\PropertySheetHandlers" ${CREATED_HANDLERS_DEFAULT}
    !insertmacro RemoveIfCreatedAndEmpty HKCR "$FileType\shellex" ${CREATED_SHELLEX_KEY}
    !insertmacro RemoveDefaultIfCreated HKCR "$FileType\shellex" ${CREATED_SHELLEX_DEFAULT}
    !insertmacro RemoveIfCreatedAndEmpty HKCR "$FileType" ${CREATED_TYPE_KEY}
  ${EndIf}
  ; The .wav default value only while it still names the type set here.
  IntOp $R7 $Created & ${CREATED_WAV_DEFAULT}
  ${If} $R7 <> 0
    ClearErrors
    ReadRegStr $R8 HKCR ".wav" ""
    ${IfNot} ${Errors}
    ${AndIf} $R8 S== $FileType
      ${If} $HadWavDefault = 1
        WriteRegStr HKCR ".wav" "" $WavDefaultBefore
      ${Else}
        DeleteRegValue HKCR ".wav" ""
      ${EndIf}
    ${EndIf}
  ${EndIf}
  !insertmacro RemoveIfCreatedAndEmpty HKCR ".wav" ${CREATED_WAV_KEY}
  ${If} ${RunningX64}
    SetRegView 64
    !insertmacro RemoveApproval ${CREATED_APPROVAL_64} ${CREATED_APPROVED_KEY_64} ${CREATED_EXTENSIONS_KEY_64}
  ${EndIf}
  SetRegView 32
  !insertmacro RemoveApproval ${CREATED_APPROVAL_32} ${CREATED_APPROVED_KEY_32} ${CREATED_EXTENSIONS_KEY_32}
  ClearErrors
  Pop $R8
  Pop $R7
FunctionEnd
!macroend
!insertmacro _RecordDefineBoth ""
!insertmacro _RecordDefineBoth "un."

Function RecordBefore
  Push $R7
  Push $R8
  ClearErrors
  ReadRegStr $WavDefaultBefore HKCR ".wav" ""
  ${If} ${Errors}
    StrCpy $HadWavDefault 0
  ${Else}
    StrCpy $HadWavDefault 1
  ${EndIf}
  ; The module keeps a type that .wav names, else writes its own.
  StrCpy $NamedType $WavDefaultBefore
  StrCpy $NamedTypeKeys 0
  ${If} $NamedType != ""
    StrCpy $R8 0
    !insertmacro KeyExists HKCR "$NamedType" ${CREATED_TYPE_KEY}
    !insertmacro KeyExists HKCR "$NamedType\shellex" ${CREATED_SHELLEX_KEY}
    !insertmacro KeyExists HKCR "$NamedType\shellex\PropertySheetHandlers" ${CREATED_HANDLERS_KEY}
    !insertmacro DefaultExists HKCR "$NamedType\shellex" ${CREATED_SHELLEX_DEFAULT}
    !insertmacro DefaultExists HKCR "$NamedType\shellex\PropertySheetHandlers" ${CREATED_HANDLERS_DEFAULT}
    StrCpy $NamedTypeKeys $R8
  ${EndIf}
  StrCpy $R8 0
  !insertmacro KeyExists HKCR "${DEFAULT_FILE_TYPE}" ${CREATED_TYPE_KEY}
  !insertmacro KeyExists HKCR "${DEFAULT_FILE_TYPE}\shellex" ${CREATED_SHELLEX_KEY}
  !insertmacro KeyExists HKCR "${DEFAULT_FILE_TYPE}\shellex\PropertySheetHandlers" ${CREATED_HANDLERS_KEY}
  !insertmacro DefaultExists HKCR "${DEFAULT_FILE_TYPE}\shellex" ${CREATED_SHELLEX_DEFAULT}
  !insertmacro DefaultExists HKCR "${DEFAULT_FILE_TYPE}\shellex\PropertySheetHandlers" ${CREATED_HANDLERS_DEFAULT}
  StrCpy $DefaultTypeKeys $R8

  StrCpy $R8 0
  !insertmacro KeyExists HKCR ".wav" ${CREATED_WAV_KEY}
  ${If} ${RunningX64}
    SetRegView 64
    !insertmacro KeyExists HKLM "${EXTENSIONS_KEY}" ${CREATED_EXTENSIONS_KEY_64}
    !insertmacro KeyExists HKLM "${APPROVED_KEY}" ${CREATED_APPROVED_KEY_64}
    ClearErrors
    ReadRegStr $R7 HKLM "${APPROVED_KEY}" "${CLSID}"
    ${IfNot} ${Errors}
      IntOp $R8 $R8 | ${CREATED_APPROVAL_64}
    ${EndIf}
  ${EndIf}
  SetRegView 32
  !insertmacro KeyExists HKLM "${EXTENSIONS_KEY}" ${CREATED_EXTENSIONS_KEY_32}
  !insertmacro KeyExists HKLM "${APPROVED_KEY}" ${CREATED_APPROVED_KEY_32}
  ClearErrors
  ReadRegStr $R7 HKLM "${APPROVED_KEY}" "${CLSID}"
  ${IfNot} ${Errors}
    IntOp $R8 $R8 | ${CREATED_APPROVAL_32}
  ${EndIf}
  StrCpy $Existed $R8
  ClearErrors
  Pop $R8
  Pop $R7
FunctionEnd

Function RecordAfter
  Push $R7
  ClearErrors
  ReadRegStr $FileType HKCR ".wav" ""
  ${If} ${Errors}
    StrCpy $FileType ""
  ${EndIf}
  ; The keys of whichever type registration used. An unexpected type counts
  ; as having existed, so that nothing of it is removed.
  IntOp $R7 ${CREATED_TYPE_KEY} | ${CREATED_SHELLEX_KEY}
  IntOp $R7 $R7 | ${CREATED_HANDLERS_KEY}
  IntOp $R7 $R7 | ${CREATED_SHELLEX_DEFAULT}
  IntOp $R7 $R7 | ${CREATED_HANDLERS_DEFAULT}
  ${If} $NamedType != ""
  ${AndIf} $FileType == $NamedType
    StrCpy $R7 $NamedTypeKeys
  ${ElseIf} $FileType == "${DEFAULT_FILE_TYPE}"
    StrCpy $R7 $DefaultTypeKeys
  ${EndIf}
  IntOp $R7 $R7 | $Existed
  IntOp $R7 $R7 ~
  IntOp $Created $R7 & ${CREATED_BY_EXISTENCE}
  ; .wav's default value was set when it was missing or changed.
  ${If} $FileType != ""
    ${If} $HadWavDefault = 0
    ${OrIf} $FileType S!= $WavDefaultBefore
      IntOp $Created $Created | ${CREATED_WAV_DEFAULT}
    ${EndIf}
  ${EndIf}
  ClearErrors
  Pop $R7
FunctionEnd

Function WriteRecord
  WriteRegDWORD HKLM "${ARP_KEY}" "TolvaneCreated" $Created
  WriteRegStr HKLM "${ARP_KEY}" "TolvaneFileType" $FileType
  ${If} $HadWavDefault = 1
    WriteRegStr HKLM "${ARP_KEY}" "TolvaneWavDefaultBefore" $WavDefaultBefore
  ${EndIf}
FunctionEnd

!define RecordBefore "!insertmacro RecordBefore"
!macro RecordBefore
  Call RecordBefore
!macroend
!define RecordAfter "!insertmacro RecordAfter"
!macro RecordAfter
  Call RecordAfter
!macroend
!define WriteRecord "!insertmacro WriteRecord"
!macro WriteRecord
  Call WriteRecord
!macroend
!define ReadRecord "!insertmacro ReadRecord"
!macro ReadRecord
  !ifdef __UNINSTALL__
    Call un.ReadRecord
  !else
    Call ReadRecord
  !endif
!macroend
!define RemoveCreated "!insertmacro RemoveCreated"
!macro RemoveCreated
  !ifdef __UNINSTALL__
    Call un.RemoveCreated
  !else
    Call RemoveCreated
  !endif
!macroend

!endif
