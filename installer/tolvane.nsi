; Tolvane setup: PELLMORE.DLL for every architecture the system runs, each
; registered with the regsvr32 of its own architecture.
;
; makensis -DVERSION=1.1.0.0 -DPUBLISHER=... -DCOPYRIGHT=... \
;          -DX64_DLL=path -DX86_DLL=path -DOUTFILE=path tolvane.nsi
; Optional: -DSIGN_COMMAND='command "%1"' signs the uninstaller and the
; installer once they are written.
;
; Unregistering keeps the ".wav" file type, the "shellex" keys and the
; approval, since other handlers may rely on them. Setup notes which of those
; it created itself (private values of its Add/Remove Programs entry), and
; the uninstaller removes exactly those, when nothing else uses them.

Unicode true
SetCompressor /SOLID lzma
; File dates would make two builds of the same files differ.
SetDateSave off
RequestExecutionLevel admin
ManifestSupportedOS all

!include LogicLib.nsh
!include x64.nsh
!include WinVer.nsh
!include FileFunc.nsh
!include MUI2.nsh

!macro RequireDefine NAME
  !ifndef ${NAME}
    !error "makensis needs -D${NAME}=..."
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine PUBLISHER
!insertmacro RequireDefine COPYRIGHT
!insertmacro RequireDefine X64_DLL
!insertmacro RequireDefine X86_DLL
!insertmacro RequireDefine OUTFILE

; The version named here must be the one the modules carry.
!macro CheckModuleVersion FILE
  !getdllversion /productversion "${FILE}" ModuleVersion_
  !if "${ModuleVersion_1}.${ModuleVersion_2}.${ModuleVersion_3}.${ModuleVersion_4}" != "${VERSION}"
    !error "${FILE} has product version ${ModuleVersion_1}.${ModuleVersion_2}.${ModuleVersion_3}.${ModuleVersion_4}, not ${VERSION}"
  !endif
  !undef ModuleVersion_1
  !undef ModuleVersion_2
  !undef ModuleVersion_3
  !undef ModuleVersion_4
!macroend
!insertmacro CheckModuleVersion "${X64_DLL}"
!insertmacro CheckModuleVersion "${X86_DLL}"

!define PRODUCT "Tolvane"
!define MODULE "PELLMORE.DLL"
!define UNINSTALLER "uninstall.exe"
!define CLSID "{241173B6-ABDF-4D59-8A15-476F7A327675}"
!define PROGID "PELLMORE.TTolvane"
!define DEFAULT_FILE_TYPE "WAV.File"
!define ARP_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define EXTENSIONS_KEY "Software\Microsoft\Windows\CurrentVersion\Shell Extensions"
!define APPROVED_KEY "${EXTENSIONS_KEY}\Approved"

; What setup created and the uninstaller may take away again: bits of the
; private value TolvaneCreated.
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

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Both folders are fixed: each architecture's modules live in its own
; Program Files.
InstallDir "$PROGRAMFILES\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND}' = 0
  !finalize '${SIGN_COMMAND}' = 0
!endif

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var Dir64        ; folder of the x64 module; empty on 32-bit Windows
Var Dir32        ; folder of the x86 module
Var Registered64 ; regsvr32 ran for the module (1), also when it failed
Var Registered32
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

; ---------------------------------------------------------------------------
; Shared by setup (its roll-back) and the uninstaller.

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

; Unregister: regsvr32 /u of the modules registered; where that fails, their
; class keys and the handler go without it.
!macro DefineUnregister PREFIX
Function ${PREFIX}Unregister
  Push $R0
  Push $R1
  StrCpy $R1 0
  ${If} $Registered64 = 1
    ${DisableX64FSRedirection}
    ClearErrors
    ExecWait '"$WINDIR\System32\regsvr32.exe" /s /u "$Dir64\${MODULE}"' $R0
    ${If} ${Errors}
      StrCpy $R0 "not started"
    ${EndIf}
    ${EnableX64FSRedirection}
    ${If} $R0 != 0
      DetailPrint "Unregistering the x64 ${MODULE} failed ($R0): removing its class keys."
      SetRegView 64
      DeleteRegKey HKCR "CLSID\${CLSID}"
      SetRegView 32
      StrCpy $R1 1
    ${EndIf}
  ${EndIf}
  ${If} $Registered32 = 1
    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$Dir32\${MODULE}"' $R0
    ${If} ${Errors}
      StrCpy $R0 "not started"
    ${EndIf}
    ${If} $R0 != 0
      DetailPrint "Unregistering the x86 ${MODULE} failed ($R0): removing its class keys."
      DeleteRegKey HKCR "CLSID\${CLSID}"
      StrCpy $R1 1
    ${EndIf}
  ${EndIf}
  ${If} $R1 <> 0
  ${AndIf} $FileType != ""
    DeleteRegKey HKCR "${PROGID}"
    ReadRegStr $R0 HKCR "$FileType\shellex\PropertySheetHandlers\${PRODUCT}" ""
    ${If} $R0 == "${CLSID}"
      DeleteRegKey HKCR "$FileType\shellex\PropertySheetHandlers\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  ClearErrors
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro DefineUnregister ""
!insertmacro DefineUnregister "un."

; The approval value and its keys in the current registry view.
!macro RemoveApproval CREATED_APPROVAL CREATED_APPROVED_KEY CREATED_EXTENSIONS_KEY
  IntOp $R7 $Created & ${CREATED_APPROVAL}
  ${If} $R7 <> 0
    DeleteRegValue HKLM "${APPROVED_KEY}" "${CLSID}"
  ${EndIf}
  !insertmacro RemoveIfCreatedAndEmpty HKLM "${APPROVED_KEY}" ${CREATED_APPROVED_KEY}
  !insertmacro RemoveIfCreatedAndEmpty HKLM "${EXTENSIONS_KEY}" ${CREATED_EXTENSIONS_KEY}
!macroend

; What unregistration keeps and setup created: the handler's keys, the .wav
; default value and key, the approval in both views. Needs $Created and
; $FileType.
!macro DefineRemoveKeptEntries PREFIX
Function ${PREFIX}RemoveKeptEntries
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
!insertmacro DefineRemoveKeptEntries ""
!insertmacro DefineRemoveKeptEntries "un."

!macro DefineFolders PREFIX
Function ${PREFIX}Folders
  ${If} ${RunningX64}
    StrCpy $Dir64 "$PROGRAMFILES64\${PRODUCT}"
    StrCpy $Dir32 "$PROGRAMFILES32\${PRODUCT}"
  ${Else}
    StrCpy $Dir64 ""
    StrCpy $Dir32 "$PROGRAMFILES\${PRODUCT}"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DefineFolders ""
!insertmacro DefineFolders "un."

!macro CheckAdministrator
  UserInfo::GetAccountType
  Pop $R0
  ${If} $R0 != "admin"
    MessageBox MB_ICONSTOP "${PRODUCT} registers a shell extension for all users: run this as an administrator." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

; ---------------------------------------------------------------------------
; Setup

Function .onInit
  ${IfNot} ${AtLeastWinVista}
    MessageBox MB_ICONSTOP "${PRODUCT} needs Windows Vista or later." /SD IDOK
    SetErrorLevel 1150 ; ERROR_OLD_WIN_VERSION
    Quit
  ${EndIf}
  !insertmacro CheckAdministrator
  Call Folders
  ; The uninstaller is kept with the module of the system's own architecture.
  ${If} ${RunningX64}
    StrCpy $INSTDIR $Dir64
  ${Else}
    StrCpy $INSTDIR $Dir32
  ${EndIf}
FunctionEnd

; Before anything is registered: which of the entries that unregistration
; keeps are there already.
Function RecordState
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

; After registration (or a failed attempt): the type .wav names now, and
; from it which entries were not there before, as CREATED_* bits.
Function ResolveState
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

; Undoes whatever was done so far, after a failed step.
Function RollBack
  DetailPrint "Rolling back."
  ; A folder that is the current directory cannot be removed.
  SetOutPath "$TEMP"
  Call ResolveState
  Call Unregister
  Call RemoveKeptEntries
  ${If} $Dir64 != ""
    Delete "$Dir64\${MODULE}"
    RMDir "$Dir64"
  ${EndIf}
  Delete "$Dir32\${MODULE}"
  RMDir "$Dir32"
FunctionEnd

; Fail MESSAGE: rolls back and ends setup with error level 2.
!macro Fail MESSAGE
  DetailPrint "${MESSAGE}"
  Call RollBack
  MessageBox MB_ICONSTOP "${MESSAGE}$\r$\n$\r$\n${PRODUCT} was not installed; nothing was changed." /SD IDOK
  SetErrorLevel 2
  Abort "${MESSAGE}"
!macroend

; A version installed before goes first, through its own uninstaller, so that
; what it recorded is taken away and not mistaken for the user's.
Function RemovePrevious
  Push $R0
  Push $R1
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ReadRegStr $R0 HKLM "${ARP_KEY}" "InstallLocation"
  SetRegView 32
  ${If} $R0 != ""
  ${AndIf} ${FileExists} "$R0\${UNINSTALLER}"
    DetailPrint "Removing the installed ${PRODUCT} first."
    ; _?= runs the uninstaller in place, so that it can be waited for.
    ClearErrors
    ExecWait '"$R0\${UNINSTALLER}" /S _?=$R0' $R1
    ${If} ${Errors}
    ${OrIf} $R1 != 0
      MessageBox MB_ICONSTOP "The installed ${PRODUCT} could not be removed ($R1). Restart Windows and run setup again." /SD IDOK
      SetErrorLevel 2
      Abort "The installed ${PRODUCT} could not be removed."
    ${EndIf}
    Delete "$R0\${UNINSTALLER}"
    RMDir "$R0"
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

Section "Install"
  SetRegView 32
  Call RemovePrevious
  Call RecordState
  StrCpy $Registered64 0
  StrCpy $Registered32 0

  ${If} $Dir64 != ""
    SetOutPath "$Dir64"
    File "/oname=${MODULE}" "${X64_DLL}"
    StrCpy $Registered64 1
    ${DisableX64FSRedirection}
    ClearErrors
    ExecWait '"$WINDIR\System32\regsvr32.exe" /s "$Dir64\${MODULE}"' $R0
    ${If} ${Errors}
      StrCpy $R0 "it did not start"
    ${EndIf}
    ${EnableX64FSRedirection}
    ${If} $R0 != 0
      !insertmacro Fail "Registering the 64-bit ${MODULE} with regsvr32 failed (exit code $R0)."
    ${EndIf}
  ${EndIf}

  SetOutPath "$Dir32"
  File "/oname=${MODULE}" "${X86_DLL}"
  StrCpy $Registered32 1
  ClearErrors
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$Dir32\${MODULE}"' $R0
  ${If} ${Errors}
    StrCpy $R0 "it did not start"
  ${EndIf}
  ${If} $R0 != 0
    !insertmacro Fail "Registering the 32-bit ${MODULE} with regsvr32 failed (exit code $R0)."
  ${EndIf}

  ; The module reports success also when it could not hook into the shell.
  Call ResolveState
  ReadRegStr $R0 HKCR "$FileType\shellex\PropertySheetHandlers\${PRODUCT}" ""
  ${If} $FileType == ""
  ${OrIf} $R0 != "${CLSID}"
    !insertmacro Fail "The ${PRODUCT} page handler is missing from the registry after registration."
  ${EndIf}

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ${GetSize} "$Dir32" "/S=0K" $R1 $R2 $R3
  ${If} $Dir64 != ""
    ${GetSize} "$Dir64" "/S=0K" $R0 $R2 $R3
    IntOp $R1 $R1 + $R0
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  WriteRegStr HKLM "${ARP_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${ARP_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${ARP_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${ARP_KEY}" "EstimatedSize" $R1
  WriteRegDWORD HKLM "${ARP_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${ARP_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${ARP_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${ARP_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  ; For the uninstaller: what to take away besides the modules.
  WriteRegDWORD HKLM "${ARP_KEY}" "TolvaneCreated" $Created
  WriteRegStr HKLM "${ARP_KEY}" "TolvaneFileType" $FileType
  ${If} $HadWavDefault = 1
    WriteRegStr HKLM "${ARP_KEY}" "TolvaneWavDefaultBefore" $WavDefaultBefore
  ${EndIf}
  SetRegView 32
SectionEnd

; ---------------------------------------------------------------------------
; Uninstaller

Function un.onInit
  !insertmacro CheckAdministrator
  Call un.Folders
FunctionEnd

Section "Uninstall"
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ReadRegDWORD $Created HKLM "${ARP_KEY}" "TolvaneCreated"
  ReadRegStr $FileType HKLM "${ARP_KEY}" "TolvaneFileType"
  ClearErrors
  ReadRegStr $WavDefaultBefore HKLM "${ARP_KEY}" "TolvaneWavDefaultBefore"
  ${If} ${Errors}
    StrCpy $HadWavDefault 0
  ${Else}
    StrCpy $HadWavDefault 1
  ${EndIf}
  SetRegView 32
  ${If} $Created == ""
    StrCpy $Created 0
  ${EndIf}

  StrCpy $Registered64 0
  ${If} $Dir64 != ""
    StrCpy $Registered64 1
  ${EndIf}
  StrCpy $Registered32 1
  Call un.Unregister
  Call un.RemoveKeptEntries

  ; Explorer may hold a module until it ends.
  ${If} $Dir64 != ""
    Delete /REBOOTOK "$Dir64\${MODULE}"
  ${EndIf}
  Delete /REBOOTOK "$Dir32\${MODULE}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Run in place (_?=), this program cannot remove itself nor its folder:
  ; the caller does.
  ${If} $EXEDIR != $INSTDIR
    RMDir /REBOOTOK "$INSTDIR"
    ; The copy this runs as asks for its folder to go at restart before
    ; itself, which leaves the folder: ask once more, after.
    System::Call 'kernel32::MoveFileExW(w "$EXEDIR", p 0, i 4)' ; MOVEFILE_DELAY_UNTIL_REBOOT
  ${EndIf}
  ${If} $Dir64 != ""
  ${AndIf} $Dir64 != $INSTDIR
    RMDir /REBOOTOK "$Dir64"
  ${EndIf}
  ${If} $Dir32 != $INSTDIR
    RMDir /REBOOTOK "$Dir32"
  ${EndIf}

  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  DeleteRegKey HKLM "${ARP_KEY}"
  SetRegView 32

  ${If} ${RebootFlag}
    SetErrorLevel 3010 ; ERROR_SUCCESS_REBOOT_REQUIRED
    MessageBox MB_YESNO|MB_ICONQUESTION "Windows must restart to finish removing ${PRODUCT}. Restart now?" /SD IDNO IDNO +2
      Reboot
  ${EndIf}
SectionEnd
