; Tolvane's uninstaller, installed as Program Files\Tolvane\uninstall.bin and
; started only by uninstall.exe (installer/launcher), from a folder that
; program makes (installer/include/uninstaller.nsh). It unregisters the
; modules and removes what setup added: the files and folders, the entry, and
; those registry entries that setup created and nothing else uses
; (installer/include/record.nsh).
;
; makensis with the defines of tolvane.nsi but UNINSTALL_LAUNCHER and
; UNINSTALL_PROGRAM (installer/build.sh runs it): CHECKS_DLL is the x86
; TOLVANE_CHECKS.DLL, which removes what setup recorded (record.nsh).
;
; A program of the installer kind, not NSIS's uninstaller kind: that one,
; started without _?=, copies itself into %TEMP% and runs the copy before any
; of its code can refuse. This one makes no copy; it runs only from
; uninstall.exe's folder, its folder ($INSTDIR) is the installed one, never
; one from the command line, and it takes no parameter but /S.

!addincludedir "${__FILEDIR__}\include"
!include product.nsh

!include LogicLib.nsh
!include x64.nsh
!include WinVer.nsh
!include FileFunc.nsh
!include Util.nsh
!include MUI2.nsh

; The includes hold setup's functions too, which the uninstaller leaves out
; (makensis tells so at the end).
!pragma warning disable 6010
!include checks.nsh
!include elevated.nsh
!include one_at_a_time.nsh
!include pending.nsh
!include record.nsh
!include module.nsh
!include uninstaller.nsh
!include entry.nsh

Caption "${PRODUCT} Uninstall"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Uninstall"

!define MUI_ICON "${NSISDIR}\Contrib\Graphics\Icons\modern-uninstall.ico"
!define MUI_ABORTWARNING
!define MUI_ABORTWARNING_TEXT "Are you sure you want to quit ${PRODUCT} Uninstall?"
; The confirmation: nothing is removed before its button.
!define MUI_WELCOMEPAGE_TITLE "Uninstall ${PRODUCT}"
!define MUI_WELCOMEPAGE_TEXT "${PRODUCT} and its Information page will be removed from this computer, from $INSTDIR.$\r$\n$\r$\nClick Uninstall to continue."
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_HEADER_TEXT "Uninstalling"
!define MUI_PAGE_HEADER_SUBTEXT "Please wait while ${PRODUCT} is being uninstalled."
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Uninstallation Complete"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "${PRODUCT} was uninstalled."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Uninstallation Aborted"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "${PRODUCT} was not uninstalled."
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
InstallButtonText "&Uninstall"
CompletedText "Completed"

Function .onInit
  ${RequireLauncherFolder}
  ${CheckSystem}
  ${ModuleFolders}
FunctionEnd

; (A section named "Uninstall" would be an uninstaller's.)
Section "Remove"
  ; A folder that is the current directory cannot be removed; regsvr32 runs
  ; in it, and looks for DLLs there: the Windows folder.
  SetOutPath "$WINDIR"
  ${ReadRecord}
  ${ForEachModule} ModuleReset 1
  ${UnregisterModules}
  ${RemoveCreated}

  ${SetUninstallerAside}
  ; A program may hold a module until it ends: it goes at the restart, and
  ; so does its folder.
  ${ForEachModule} RemoveModule ""
  ${RemoveEntry}

  ${If} ${RebootFlag}
    SetErrorLevel 3010 ; ERROR_SUCCESS_REBOOT_REQUIRED
    MessageBox MB_YESNO|MB_ICONQUESTION "Windows must restart to finish removing ${PRODUCT}. Restart now?" /SD IDNO IDNO +2
      Reboot
  ${EndIf}
SectionEnd
