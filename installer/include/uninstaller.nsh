; uninstaller.nsh: uninstall.exe and the uninstaller in $INSTDIR, and where
; the uninstaller runs. Every way of uninstalling starts uninstall.exe
; (installer/launcher), which runs only from $INSTDIR, copies the uninstaller
; (UNINSTALLER_PROGRAM, built from installer/uninstall.nsi) into a new folder
; of its own beside $INSTDIR (LAUNCHER_FOLDER-N.tmp, elevated.nsh) with a
; protected access list, runs it there and returns its exit code when it is
; done.
;
;   ${WriteUninstallers}     setup: writes uninstall.exe and the uninstaller
;                            (the files the defines UNINSTALL_LAUNCHER and
;                            UNINSTALL_PROGRAM name) into $INSTDIR.
;   ${RequireLauncherFolder} the uninstaller's .onInit, first thing, before
;                            any plug-in: it runs only with no parameter or
;                            /S and from a folder uninstall.exe makes, in
;                            the 64-bit Program Files (the parent of
;                            $INSTDIR), where no user can make one;
;                            otherwise it tells so and quits with error
;                            level 2, having done nothing.
;   ${SetUninstallerAside}   uninstaller, before $INSTDIR goes: deletes the
;                            uninstaller in $INSTDIR and moves uninstall.exe,
;                            which runs while it waits and keeps no handle on
;                            its file, into the folder of the running copy;
;                            that one, the copy (which uninstall.exe deletes
;                            once the uninstaller has ended, unless it was
;                            killed) and their folder go at the restart,
;                            which need not come soon.
;
; Needs LogicLib.nsh, FileFunc.nsh, elevated.nsh, pending.nsh and the defines
; PRODUCT and UNINSTALLER (uninstall.exe).

!ifndef UNINSTALLER_NSH
!define UNINSTALLER_NSH

!define UNINSTALLER_PROGRAM "uninstall.bin"

!define WriteUninstallers "!insertmacro WriteUninstallers"
!macro WriteUninstallers
  File "/oname=$INSTDIR\${UNINSTALLER}" "${UNINSTALL_LAUNCHER}"
  File "/oname=$INSTDIR\${UNINSTALLER_PROGRAM}" "${UNINSTALL_PROGRAM}"
!macroend

; $INSTDIR is set only later (module.nsh, with a plug-in), but it is always
; the 64-bit Program Files' folder of the product, as setup made it.
!define RequireLauncherFolder "!insertmacro CallArtificialFunction _RequireLauncherFolder"
!macro _RequireLauncherFolder
  Push $0 ; the parameters, then the folder's name
  Push $1 ; the folder's parent, then the start of its name
  Push $2 ; 1: it may run
  StrCpy $2 0
  ${GetParameters} $0
  ${If} $0 S== ""
  ${OrIf} $0 S== "/S"
    ${GetParent} $EXEDIR $1
    ${GetFileName} $EXEDIR $0
    ${If} $1 == $PROGRAMFILES64
      StrLen $1 "${LAUNCHER_FOLDER}-"
      StrCpy $1 $0 $1
      StrCpy $0 $0 "" -4
      ${If} $1 == "${LAUNCHER_FOLDER}-"
      ${AndIf} $0 == ".tmp"
        StrCpy $2 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $2 = 0
    MessageBox MB_ICONSTOP "Start $PROGRAMFILES64\${PRODUCT}\${UNINSTALLER} to uninstall ${PRODUCT}." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
!macroend

!define SetUninstallerAside "!insertmacro CallArtificialFunction _SetUninstallerAside"
!macro _SetUninstallerAside
  Push $0
  Push $1
  Push $2
  Delete "$INSTDIR\${UNINSTALLER_PROGRAM}"
  StrCpy $0 "$INSTDIR\${UNINSTALLER}"
  StrCpy $1 "$EXEDIR\${UNINSTALLER}"
  StrCpy $2 0
  ${If} ${FileExists} $0
    System::Call 'kernel32::MoveFileExW(w r0, w r1, i 0) i .r2'
    ${If} $2 = 0
      Delete /REBOOTOK $0
    ${EndIf}
  ${EndIf}
  ; Files before their folder. uninstall.exe, finding itself there, leaves
  ; the folder alone.
  ${If} $2 <> 0
    ${DeleteAtRestart} $1
    ${DeleteAtRestart} $EXEPATH
    ${DeleteAtRestart} $EXEDIR
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
!macroend

!endif
