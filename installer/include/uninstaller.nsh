; uninstaller.nsh: the uninstaller in $INSTDIR and where it runs. Every way
; of uninstalling starts uninstall.exe (installer/launcher), which copies the
; uninstaller (UNINSTALLER_PROGRAM) into a new folder of its own with a
; protected access list, runs it there with _?= and returns its exit code
; when it is done. NSIS's own copy in a folder of %TEMP% is never made.
;
;   ${WriteUninstallers}     setup: writes uninstall.exe (the file the
;                            define UNINSTALL_LAUNCHER names) and the
;                            uninstaller into $INSTDIR.
;   ${RequireLauncherFolder} un.onInit, after un.Folders: the uninstaller runs
;                            only from $INSTDIR or from uninstall.exe's
;                            folder; a copy that NSIS made of it in %TEMP%
;                            does nothing and quits with error level 2.
;   ${SetUninstallerAside}   uninstaller, before $INSTDIR goes: deletes the
;                            uninstaller in $INSTDIR and moves uninstall.exe,
;                            which runs while it waits and keeps no handle on
;                            its file, into the folder of the running copy;
;                            uninstall.exe then leaves itself and the folder
;                            to the next restart. Run in place, the
;                            uninstaller leaves itself and uninstall.exe to
;                            the restart and asks for it.
;
; Needs LogicLib.nsh, FileFunc.nsh, pending.nsh and the define UNINSTALLER
; (uninstall.exe).

!ifndef UNINSTALLER_NSH
!define UNINSTALLER_NSH

!define UNINSTALLER_PROGRAM "uninstall.bin"
; The name of the folders uninstall.exe makes: NAME-N.tmp.
!define UNINSTALLER_FOLDER "Tolvane-uninstall"

!define WriteUninstallers "!insertmacro WriteUninstallers"
!macro WriteUninstallers
  File "/oname=$INSTDIR\${UNINSTALLER}" "${UNINSTALL_LAUNCHER}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER_PROGRAM}"
!macroend

!define RequireLauncherFolder "!insertmacro RequireLauncherFolder"
!macro RequireLauncherFolder
  Push $0
  Push $1
  ${GetFileName} $EXEDIR $0
  StrCpy $1 "${UNINSTALLER_FOLDER}-"
  StrLen $1 $1
  StrCpy $0 $0 $1
  ${If} $EXEDIR != $INSTDIR
  ${AndIf} $0 != "${UNINSTALLER_FOLDER}-"
    MessageBox MB_ICONSTOP "Start $INSTDIR\${UNINSTALLER} to uninstall." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  Pop $1
  Pop $0
!macroend

Function un.SetUninstallerAside
  Push $0
  Push $1
  Push $2
  ${If} $EXEDIR == $INSTDIR
    ; Started in place by hand: NSIS keeps its own file open.
    ${DeleteAtRestart} $EXEPATH
    SetRebootFlag true
  ${Else}
    Delete "$INSTDIR\${UNINSTALLER_PROGRAM}"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  ${If} ${FileExists} "$INSTDIR\${UNINSTALLER}"
    StrCpy $2 0
    ${If} $EXEDIR != $INSTDIR
      StrCpy $0 "$INSTDIR\${UNINSTALLER}"
      StrCpy $1 "$EXEDIR\${UNINSTALLER}"
      System::Call 'kernel32::MoveFileExW(w r0, w r1, i 0) i .r2'
    ${EndIf}
    ${If} $2 = 0
      Delete /REBOOTOK "$INSTDIR\${UNINSTALLER}"
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

!define SetUninstallerAside "!insertmacro SetUninstallerAside"
!macro SetUninstallerAside
  Call un.SetUninstallerAside
!macroend

!endif
