; Tolvane setup: PELLMORE.DLL for every architecture the system runs, each
; registered with the regsvr32 of its own architecture.
;
; makensis -DVERSION=1.1.0.0 -DPUBLISHER=... -DCOPYRIGHT=... \
;          -DX64_DLL=path -DX86_DLL=path -DCHECKS_DLL=path \
;          -DUNINSTALL_LAUNCHER=path -DUNINSTALL_PROGRAM=path -DOUTFILE=path \
;          tolvane.nsi
; (installer/build.sh builds uninstall.exe, installer/launcher, and the
; uninstaller, installer/uninstall.nsi, which the same defines build, and
; runs it). CHECKS_DLL is the x86 TOLVANE_CHECKS.DLL (installer/checks),
; which setup asks before it changes anything (checks.nsh).
; Optional: -DARM64_DLL=path adds the ARM64 module: ARM64 Windows then gets
; it in Program Files\Tolvane and the x86 one in Program Files (x86)\Tolvane
; (and no x64 module, which its Explorer cannot load).
; Optional: -DSIGN_COMMAND='command "%1"' signs the installer once it is
; written. For tests: -DREGISTER_TIMEOUT_MS=n ends a registration after n ms,
; -DONE_AT_A_TIME_MS=n gives up waiting for another setup after n ms (both
; 60 s otherwise); -DTEST_NO_CHECKS skips the
; registry checks before registering, to see what happens without them;
; -DTEST_QUIT_AFTER_REGISTERING ends setup once the modules are registered,
; as a setup killed then would end; -DTEST_WAIT_BEFORE_X86=FILE (module.nsh);
; -DTEST_ARM64_BRANCH makes setup take the ARM64 branch on x64 Windows,
; with the x64 module packed as the ARM64 one unless ARM64_DLL names one.
;
; Setup over an installed Tolvane (any version) updates it in place: the
; modules are replaced, also while programs hold them, and what it creates
; joins the record of what setup created. Unregistering keeps the ".wav"
; file type, the "shellex" keys and the approval, since other handlers may
; rely on them; the uninstaller removes exactly those that setup created,
; when nothing else uses them (installer/include/record.nsh).

!addincludedir "${__FILEDIR__}\include"
!include product.nsh
!insertmacro RequireDefine UNINSTALL_LAUNCHER
!insertmacro RequireDefine UNINSTALL_PROGRAM

!include LogicLib.nsh
!include x64.nsh
!include WinVer.nsh
!include FileFunc.nsh
!include Util.nsh
!include MUI2.nsh

!include checks.nsh
!include elevated.nsh
!include one_at_a_time.nsh
!include pending.nsh
!include record.nsh
!include module.nsh
!include uninstaller.nsh
!include entry.nsh

; Both folders are fixed (/D= is not supported): each architecture's module
; lives in its own Program Files.
InstallDir "$PROGRAMFILES\${PRODUCT}"
ShowInstDetails show

!ifdef SIGN_COMMAND
  !finalize '${SIGN_COMMAND}' = 0
!endif

VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------
; Setup

Function .onInit
  ${CheckSystem}
  ${ModuleFolders}
FunctionEnd

; Undoes whatever was done so far, after a failed step: a first setup
; leaves nothing, a setup over an installed version leaves that one.
Function RollBack
  DetailPrint "Rolling back."
  ; A folder that is the current directory cannot be removed; regsvr32 runs
  ; in it, and looks for DLLs there: the Windows folder, not %TEMP%.
  SetOutPath "$WINDIR"
  ${If} $Installed = 0
  ${AndIf} $Recorded = 1
    ${UnregisterModules}
    ${RemoveCreated}
    ${RemoveEntry} ; where the record is
  ${EndIf}
  ; The modules as they were: a setup over an installed version registers
  ; the old ones again, a first setup removes their folders.
  ${ForEachModule} RestoreModule $Installed
FunctionEnd

; Fail MESSAGE: rolls back and ends setup with error level 2.
!macro Fail MESSAGE
  DetailPrint "${MESSAGE}"
  Call RollBack
  MessageBox MB_ICONSTOP "${MESSAGE}$\r$\n$\r$\n${PRODUCT} was not installed; nothing was changed." /SD IDOK
  SetErrorLevel 2
  Abort "${MESSAGE}"
!macroend

Section "Install"
  SetRegView 32
  ${ForEachModule} ModuleReset 0
  ${ReadRecord}
  ${If} $Installed = 1
    DetailPrint "Updating the installed ${PRODUCT} in place."
  ${EndIf}
  ; Two installers of one product would each take the other's files and
  ; entries for their own.
  ${InstalledPackage} $R0
  ${If} $R0 != ""
    !insertmacro Fail "${PRODUCT} is installed by its Windows Installer package $R0. Remove that first (Apps and Features, or msiexec /x $R0), then run this setup again."
  ${EndIf}
  !ifndef TEST_NO_CHECKS
    ${CheckRegistry} $R0
    ${If} $R0 != ""
      !insertmacro Fail $R0
    ${EndIf}
  !endif
  ${RecordBefore} $R0
  ${If} $R0 != ""
    !insertmacro Fail $R0
  ${EndIf}

  StrCpy $R0 ""
  ${ForEachModule} InstallModule $R0
  ${If} $R0 != ""
    !insertmacro Fail $R0
  ${EndIf}
  !ifdef TEST_QUIT_AFTER_REGISTERING
    Quit ; tests: where a setup killed during registration stops
  !endif

  ; The module reports success also when it could not hook into the shell.
  ClearErrors
  ReadRegStr $R1 HKCR ".wav" ""
  ReadRegStr $R0 HKCR "$R1\shellex\PropertySheetHandlers\${PRODUCT}" ""
  ${If} $R1 == ""
  ${OrIf} $R0 != "${CLSID}"
    !insertmacro Fail "The ${PRODUCT} page handler is missing from the registry after registration."
  ${EndIf}

  ; Nothing fails from here on.
  ${ForEachModule} ReleaseAside ""
  StrCpy $R5 0
  ${ForEachModule} ModuleSize $R5
  StrCpy $R6 "|$INSTDIR\${UNINSTALLER}|$INSTDIR\${UNINSTALLER_PROGRAM}|$INSTDIR|"
  ${ForEachModule} ModulePaths $R6
  ; What an uninstall whose restart was declined left to delete then.
  ${CancelPending} $R6
  SetOutPath "$INSTDIR"
  ${WriteUninstallers}
  ${WriteEntry} $R5
SectionEnd
