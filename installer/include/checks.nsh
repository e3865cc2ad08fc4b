; checks.nsh: the registry states in which registering the module fails, or
; the page can never show, found before setup changes anything. Every rule
; below restates what the module does, and this is the one place that does:
; extension/shell_registration.cpp (the file type, the hook, the approval),
; comserver/class_factory.cpp and comserver/registration.cpp (the class and
; the ProgID), comserver/registry_key.cpp (the calls). A change there is a
; change here. A state refused here is one in which registration fails or
; the shell never shows the page; every other state registers.
;
;   ${ModuleFileType} OUT   the file type the module hooks: .wav's default
;                           value as stored, or WAV.File where there is none
;                           or it holds nothing but characters up to the
;                           blank.
;   Call ModuleSetsWavDefault  pushes 1 where registration sets .wav's
;                           default value, else 0 (record.nsh).
;   ${CheckRegistry} OUT    OUT = "" when registration can do its work, else
;                           a sentence saying why it cannot.
;
; The module reads .wav's default value (KEY_READ) through the UTF-16 call,
; of any length: a value of size 0 is empty whatever its type, one of
; another type than text fails the registration; a text counts up to its
; first NUL. Setup reads it the same way (WavDefault), never with
; ReadRegStr, which fails on values of NSIS_MAX_STRLEN characters or more
; and reads a number from a REG_DWORD of any size. It writes below the file
; type through the ANSI calls, so the system's ANSI code page must hold the
; name whole, its longest key path (the name and
; "\shellex\PropertySheetHandlers\Tolvane", 38 characters) must fit in their
; 260 characters, and no key name in it may be empty (a backslash at either
; end, or two in a row).
;
; The keys it creates or opens, each with the access it asks for; a key that
; exists must open with that access, one that does not is made below the
; deepest key of its path that exists, which must open with
; KEY_CREATE_SUB_KEY:
;   HKCR\.wav (only when it sets the default value)   KEY_READ | KEY_WRITE
;   HKCR\TYPE\shellex, ...\PropertySheetHandlers,
;     ...\PropertySheetHandlers\Tolvane                KEY_READ | KEY_WRITE
;   HKCR\PELLMORE.TTolvane, ...\Clsid                  KEY_READ | KEY_WRITE
;   HKCR\CLSID\{CLSID}, ...\InprocServer32, ...\ProgID
;     (in the registry view of each module)            KEY_READ | KEY_WRITE
;   HKLM\...\Shell Extensions, ...\Approved (each view) KEY_ALL_ACCESS
; The approval alone may fail: the module then shows its box (where someone
; sees it; setup runs regsvr32 where no one does, module.nsh) and succeeds.
; The shell consults the approval list only where the policy value
; EnforceShellExtensionSecurity is set (HKLM or HKCU, POLICY_KEY); only there
; does an approval that cannot be written refuse setup.
;
; Needs LogicLib.nsh, x64.nsh and the defines CLSID, PRODUCT, PROGID,
; DEFAULT_FILE_TYPE, EXTENSIONS_KEY, APPROVED_KEY.

!ifndef CHECKS_NSH
!define CHECKS_NSH

!define KEY_READ_WRITE 0x2001F ; KEY_READ | KEY_WRITE
!define KEY_ALL_ACCESS 0xF003F
!define KEY_CREATE_SUB_KEY 4
; 260 characters of the ANSI calls, less "\shellex\PropertySheetHandlers\Tolvane".
!define FILE_TYPE_LONGEST 222
!define POLICY_KEY "Software\Microsoft\Windows\CurrentVersion\Policies\Explorer"
!define POLICY_VALUE "EnforceShellExtensionSecurity"

; WavDefault VALUE LENGTH KIND: .wav's default value read as the module
; reads it (TRegKey::ReadString): its size first, and a size of 0 (or no
; value) is the empty text, whatever the type; any other value must be text,
; of which the whole characters up to the first NUL count. VALUE = that text
; (its first NSIS_MAX_STRLEN - 1 characters: NSIS strings hold no more),
; LENGTH = its length in characters. KIND = 0 when it names a file type;
; 1 when it names none (no value, empty, or nothing but characters up to the
; blank): the module hooks DEFAULT_FILE_TYPE and sets .wav's default value
; to it; 2 when the value is neither text nor empty, or cannot be read (the
; module fails).
!macro WavDefault VALUE LENGTH KIND
  Call WavDefault
  Pop ${VALUE}
  Pop ${LENGTH}
  Pop ${KIND}
!macroend
Function WavDefault
  Push $0 ; the text
  Push $1 ; the value's type, then the kind
  Push $2 ; its size, then the text's length
  Push $3 ; the key
  Push $4 ; results
  Push $5 ; the data
  StrCpy $0 ""
  StrCpy $1 1
  StrCpy $2 0
  ; KEY_READ; HKCR\.wav is one key in both views.
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000000, w ".wav", i 0, i 0x20019, *p .r3) i .r4'
  ${If} $4 = 0
    System::Call 'advapi32::RegQueryValueExW(p r3, p 0, p 0, *i .r1, p 0, *i .r2) i .r4'
    ${If} $4 <> 0
    ${OrIf} $2 = 0
      StrCpy $1 1
      StrCpy $2 0
    ${ElseIf} $1 <> 1 ; REG_SZ
    ${AndIf} $1 <> 2 ; REG_EXPAND_SZ
      StrCpy $1 2
    ${Else}
      ; Zeroed, with room for a NUL after the last whole character.
      IntOp $4 $2 + 2
      System::Alloc $4
      Pop $5
      System::Call 'advapi32::RegQueryValueExW(p r3, p 0, p 0, *i .r1, p r5, *i r2r2) i .r4'
      ${If} $4 <> 0
        StrCpy $1 2
      ${ElseIf} $1 <> 1
      ${AndIf} $1 <> 2
        StrCpy $1 2
      ${Else}
        ; An odd last byte is no character.
        IntOp $2 $2 / 2
        IntOp $4 $2 * 2
        IntPtrOp $4 $5 + $4
        System::Call '*$4(&i2 0)'
        System::Call 'kernel32::lstrlenW(p r5) i .r2'
        System::Call 'kernel32::lstrcpynW(w .r0, p r5, i ${NSIS_MAX_STRLEN})'
        ; Blank: nothing but characters up to the blank (U+0001 to U+0020).
        StrCpy $4 "${U+1}${U+2}${U+3}${U+4}${U+5}${U+6}${U+7}${U+8}${U+9}${U+A}${U+B}${U+C}${U+D}${U+E}${U+F}${U+10}${U+11}${U+12}${U+13}${U+14}${U+15}${U+16}${U+17}${U+18}${U+19}${U+1A}${U+1B}${U+1C}${U+1D}${U+1E}${U+1F} "
        System::Call 'shlwapi::StrSpnW(p r5, w r4) i .r4'
        ${If} $4 = $2
          StrCpy $1 1
        ${Else}
          StrCpy $1 0
        ${EndIf}
      ${EndIf}
      System::Free $5
    ${EndIf}
    System::Call 'advapi32::RegCloseKey(p r3)'
  ${EndIf}
  ${If} $1 = 2
    StrCpy $0 ""
    StrCpy $2 0
  ${EndIf}
  Pop $5
  Pop $4
  Pop $3
  Exch $2
  Exch
  Exch $1
  Exch 2
  Exch $0
FunctionEnd

Function ModuleFileType
  Push $0
  Push $1
  Push $2
  !insertmacro WavDefault $0 $1 $2
  ${If} $2 = 1
    StrCpy $0 "${DEFAULT_FILE_TYPE}"
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!define ModuleFileType "!insertmacro ModuleFileType"
!macro ModuleFileType OUT
  Call ModuleFileType
  Pop ${OUT}
!macroend

; ModuleSetsWavDefault: pushes 1 where registration sets .wav's default
; value (to DEFAULT_FILE_TYPE), else 0.
Function ModuleSetsWavDefault
  Push $0
  Push $1
  Push $2
  !insertmacro WavDefault $0 $1 $2
  ${If} $2 = 1
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; CheckKey ROOT KEY VIEW ACCESS OUT: where OUT is "" (no key before failed),
; OUT stays "" when ROOT\KEY in registry view VIEW (32 or 64) opens with
; ACCESS or, where it does not exist, its deepest existing key opens with
; KEY_CREATE_SUB_KEY, else it becomes that key's name.
!macro CheckKey ROOT KEY VIEW ACCESS OUT
  ${If} ${OUT} == ""
    Push "${ROOT}"
    Push "${KEY}"
    Push ${VIEW}
    Push ${ACCESS}
    Call CheckKey
    Pop ${OUT}
  ${EndIf}
!macroend

Function CheckKey
  Exch $3 ; access
  Exch
  Exch $2 ; view
  Exch 2
  Exch $1 ; key
  Exch 3
  Exch $0 ; root
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
    IntOp $4 0x20019 | $2 ; KEY_READ: is it there?
    System::Call 'advapi32::RegOpenKeyExW(p r6, w r1, i 0, i r4, *p .r4) i .r5'
    ${If} $5 = 0
      System::Call 'advapi32::RegCloseKey(p r4)'
    ${EndIf}
    ${If} $5 <> 2 ; ERROR_FILE_NOT_FOUND: there, though perhaps not readable
    ${OrIf} $1 == ""
      ${Break}
    ${EndIf}
    ; Not there: made below its parent, what comes before the last backslash.
    StrCpy $3 ${KEY_CREATE_SUB_KEY}
    StrLen $4 $1
    ${Do}
      IntOp $4 $4 - 1
      ${If} $4 <= 0
        StrCpy $4 0
        ${Break}
      ${EndIf}
      StrCpy $5 $1 1 $4
    ${LoopUntil} $5 == "\"
    StrCpy $1 $1 $4
  ${Loop}
  IntOp $4 $3 | $2
  System::Call 'advapi32::RegOpenKeyExW(p r6, w r1, i 0, i r4, *p .r4) i .r5'
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

; ApprovalEnforced: pushes 1 where the shell consults the approval list.
Function ApprovalEnforced
  Push $0
  Push $1
  StrCpy $1 0
  ${If} ${RunningX64}
    SetRegView 64
    ReadRegDWORD $0 HKLM "${POLICY_KEY}" "${POLICY_VALUE}"
    ${If} $0 <> 0
      StrCpy $1 1
    ${EndIf}
    SetRegView 32
  ${EndIf}
  ReadRegDWORD $0 HKLM "${POLICY_KEY}" "${POLICY_VALUE}"
  ${If} $0 <> 0
    StrCpy $1 1
  ${EndIf}
  ReadRegDWORD $0 HKCU "${POLICY_KEY}" "${POLICY_VALUE}"
  ${If} $0 <> 0
    StrCpy $1 1
  ${EndIf}
  ClearErrors
  StrCpy $0 $1
  Pop $1
  Exch $0
FunctionEnd

; FileTypeProblem: takes the file type's name, the default value .wav
; holds and the name's length (which the name, as an NSIS string, may not
; hold whole), and leaves "" when the module can write below that name, else
; a sentence.
Function FileTypeProblem
  Exch $2 ; the name's length
  Exch
  Exch $1 ; .wav's default value
  Exch 2
  Exch $0 ; the file type
  Push $3
  Push $4
  Push $5
  ${If} $2 > ${FILE_TYPE_LONGEST}
    StrCpy $2 "The .wav files' type in the registry (HKEY_CLASSES_ROOT\.wav) has $2 characters; registration takes ${FILE_TYPE_LONGEST} at most."
  ${Else}
    StrCpy $2 ""
    ; The ANSI code page there and back again.
    System::Call 'kernel32::WideCharToMultiByte(i 0, i 0, w r0, i -1, p 0, i 0, p 0, p 0) i .r3'
    System::Alloc $3
    Pop $4
    System::Call 'kernel32::WideCharToMultiByte(i 0, i 0, w r0, i -1, p r4, i r3, p 0, p 0)'
    System::Call 'kernel32::MultiByteToWideChar(i 0, i 0, p r4, i -1, w .r3, i ${NSIS_MAX_STRLEN})'
    System::Free $4
    ${If} $3 S!= $0
      StrCpy $2 "The .wav files' type in the registry (HKEY_CLASSES_ROOT\.wav), $\"$1$\", has characters that the system's ANSI code page lacks."
    ${Else}
      StrCpy $3 $0 1
      StrCpy $4 $0 "" -1
      System::Call 'shlwapi::StrStrW(w r0, w "\\") p .r5'
      ${If} $3 == "\"
      ${OrIf} $4 == "\"
      ${OrIf} $5 P<> 0
        StrCpy $2 "The .wav files' type in the registry (HKEY_CLASSES_ROOT\.wav) is $\"$1$\", in which a registry key name would be empty."
      ${EndIf}
    ${EndIf}
  ${EndIf}
  StrCpy $0 $2
  Pop $5
  Pop $4
  Pop $3
  Exch
  Pop $2
  Exch
  Pop $1
  Exch $0
FunctionEnd

Function CheckRegistry
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  !insertmacro WavDefault $R3 $R4 $R2
  ${ModuleFileType} $R1
  StrCpy $R0 ""
  ${If} $R2 = 2
    StrCpy $R0 "The .wav files' type in the registry (HKEY_CLASSES_ROOT\.wav) is not text."
  ${Else}
    ${If} $R2 = 1
      StrLen $R4 $R1
    ${EndIf}
    Push $R1
    Push $R3
    Push $R4
    Call FileTypeProblem
    Pop $R0
  ${EndIf}
  StrCpy $R4 $R2 ; 1: registration sets .wav's default value
  ${If} $R0 == ""
    StrCpy $R2 32
    ${If} ${RunningX64}
      StrCpy $R2 64
    ${EndIf}
    ; Keys that both registry views share.
    ${If} $R4 = 1
      !insertmacro CheckKey HKCR ".wav" $R2 ${KEY_READ_WRITE} $R0
    ${EndIf}
    !insertmacro CheckKey HKCR "$R1\shellex" $R2 ${KEY_READ_WRITE} $R0
    !insertmacro CheckKey HKCR "$R1\shellex\PropertySheetHandlers" $R2 ${KEY_READ_WRITE} $R0
    !insertmacro CheckKey HKCR "$R1\shellex\PropertySheetHandlers\${PRODUCT}" $R2 ${KEY_READ_WRITE} $R0
    !insertmacro CheckKey HKCR "${PROGID}" $R2 ${KEY_READ_WRITE} $R0
    !insertmacro CheckKey HKCR "${PROGID}\Clsid" $R2 ${KEY_READ_WRITE} $R0
    Call ApprovalEnforced
    Pop $R3
    ; The class and the approval exist once per view.
    ${DoWhile} $R0 == ""
      !insertmacro CheckKey HKCR "CLSID\${CLSID}" $R2 ${KEY_READ_WRITE} $R0
      !insertmacro CheckKey HKCR "CLSID\${CLSID}\InprocServer32" $R2 ${KEY_READ_WRITE} $R0
      !insertmacro CheckKey HKCR "CLSID\${CLSID}\ProgID" $R2 ${KEY_READ_WRITE} $R0
      ${If} $R3 = 1
        !insertmacro CheckKey HKLM "${EXTENSIONS_KEY}" $R2 ${KEY_ALL_ACCESS} $R0
        !insertmacro CheckKey HKLM "${APPROVED_KEY}" $R2 ${KEY_ALL_ACCESS} $R0
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
  Pop $R4
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
