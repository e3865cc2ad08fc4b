; checks.nsh: what setup checks before it registers anything. A module whose
; registration fails halfway shows a message box, which a silent setup would
; wait on; what the registry would refuse is found here first instead.
;
;   ${CheckRegistry} OUT   OUT = "" when registration can write what it
;                          writes, else a sentence saying why not: the file
;                          type .wav names cannot be a key name (longer than
;                          255 characters, or a backslash in it), or one of
;                          the keys cannot be written (HKCR\.wav, the file
;                          type's handler keys, the ProgID, the class key
;                          and the approval key in each registry view).
;
; Needs LogicLib.nsh, x64.nsh and the defines CLSID, PRODUCT, PROGID,
; DEFAULT_FILE_TYPE, APPROVED_KEY. A key that does not exist yet is checked
; where it would be created: at the deepest key of its path that exists.

!ifndef CHECKS_NSH
!define CHECKS_NSH

; _CheckWritable ROOT KEY VIEW: $R0 = "" when the deepest existing key of
; ROOT\KEY in registry view VIEW (32 or 64) opens for writing, else names it.
!macro _CheckWritable ROOT KEY VIEW
  Push "${ROOT}"
  Push "${KEY}"
  Push ${VIEW}
  Call CheckWritable
  Pop $R0
!macroend

Function CheckWritable
  Exch $2 ; view
  Exch
  Exch $1 ; key
  Exch 2
  Exch $0 ; root
  Push $3
  Push $4
  Push $5
  Push $6
  ${If} $0 == HKLM
    StrCpy $6 0x80000002
  ${Else}
    StrCpy $6 0x80000000
  ${EndIf}
  ${If} $2 = 64
    StrCpy $2 0x100 ; KEY_WOW64_64KEY
  ${Else}
    StrCpy $2 0x200 ; KEY_WOW64_32KEY
  ${EndIf}
  ${Do}
    IntOp $3 0x20019 | $2 ; KEY_READ
    System::Call 'advapi32::RegOpenKeyExW(p r6, w r1, i 0, i r3, *p .r4) i .r5'
    ${If} $5 = 0
      System::Call 'advapi32::RegCloseKey(p r4)'
      ${Break}
    ${EndIf}
    ${If} $1 == ""
      ${Break}
    ${EndIf}
    ; The parent key: what comes before the last backslash.
    StrLen $3 $1
    ${Do}
      IntOp $3 $3 - 1
      ${If} $3 <= 0
        StrCpy $3 0
        ${Break}
      ${EndIf}
      StrCpy $4 $1 1 $3
    ${LoopUntil} $4 == "\"
    StrCpy $1 $1 $3
  ${Loop}
  IntOp $3 0x20006 | $2 ; KEY_WRITE
  System::Call 'advapi32::RegOpenKeyExW(p r6, w r1, i 0, i r3, *p .r4) i .r5'
  ${If} $5 = 0
    System::Call 'advapi32::RegCloseKey(p r4)'
    StrCpy $0 ""
  ${Else}
    StrCpy $0 "$0\$1"
  ${EndIf}
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

Function CheckRegistry
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  ; The module keeps the type .wav names, else names its own.
  ReadRegStr $R1 HKCR ".wav" ""
  ${If} $R1 == ""
    StrCpy $R1 "${DEFAULT_FILE_TYPE}"
  ${EndIf}
  StrLen $R2 $R1
  StrCpy $R0 ""
  ${If} $R2 > 255
    StrCpy $R0 "The .wav files' type name in the registry (HKEY_CLASSES_ROOT\.wav) has $R2 characters; a registry key name has at most 255."
  ${Else}
    ${For} $R3 0 $R2
      StrCpy $R0 $R1 1 $R3
      ${If} $R0 == "\"
        ${Break}
      ${EndIf}
    ${Next}
    ${If} $R0 == "\"
      StrCpy $R0 "The .wav files' type name in the registry (HKEY_CLASSES_ROOT\.wav) is $\"$R1$\"; a registry key name cannot hold a backslash."
    ${Else}
      StrCpy $R0 ""
    ${EndIf}
  ${EndIf}
  ${If} $R0 == ""
    StrCpy $R2 32
    ${If} ${RunningX64}
      StrCpy $R2 64
    ${EndIf}
    !insertmacro _CheckWritable HKCR ".wav" $R2
    ${If} $R0 == ""
      !insertmacro _CheckWritable HKCR "$R1\shellex\PropertySheetHandlers\${PRODUCT}" $R2
    ${EndIf}
    ${If} $R0 == ""
      !insertmacro _CheckWritable HKCR "${PROGID}\Clsid" $R2
    ${EndIf}
    ; The class and the approval exist once per view.
    ${DoWhile} $R0 == ""
      !insertmacro _CheckWritable HKCR "CLSID\${CLSID}\InprocServer32" $R2
      ${If} $R0 == ""
        !insertmacro _CheckWritable HKLM "${APPROVED_KEY}" $R2
      ${EndIf}
      ${If} $R0 != ""
      ${OrIf} $R2 = 32
        ${Break}
      ${EndIf}
      StrCpy $R2 32
    ${Loop}
    ${If} $R0 != ""
      StrCpy $R0 "Setup cannot write the registry key $R0 (registry view $R2)."
    ${EndIf}
  ${EndIf}
  StrCpy $R1 $R0
  Pop $R3
  Pop $R2
  Pop $R0
  Exch $R1
FunctionEnd

!define CheckRegistry "!insertmacro CheckRegistry"
!macro CheckRegistry OUT
  Call CheckRegistry
  Pop ${OUT}
!macroend

!endif
