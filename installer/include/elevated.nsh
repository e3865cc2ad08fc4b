; elevated.nsh: where setup and the uninstaller, which run elevated (as
; SYSTEM under a deployment tool), keep what they load and run. Nothing comes
; from a place a standard user can write or make first (%TEMP%, which is
; C:\Windows\Temp for SYSTEM): only from Program Files and the Windows folder,
; or from a folder made for it there and then, with an access list of its own
; (the uninstaller: installer/launcher/uninstall_launcher.cpp).
;
;   ${CheckSystem}            first thing in .onInit (in the uninstaller after
;                             ${RequireLauncherFolder}): plug-ins from Program
;                             Files, Windows Vista or later, an administrator,
;                             one setup or uninstall at a time (with the
;                             lock, what killed ones left goes); else it
;                             tells so and quits (1150, 740, 2).
;   ${PluginsInProgramFiles} OUT  before any plug-in: NSIS's plug-ins are
;                             unpacked into a new folder of Program Files,
;                             PLUGINS_FOLDER-XXXX.tmp, not into %TEMP%;
;                             OUT = 1, or 0 when that folder cannot be made
;                             (no administrator could make it), and then no
;                             plug-in may be called.
;   ${RemoveLeftovers}        once the lock is held: the plug-in folders,
;                             the names reserved for them (nstXXXX.tmp) and
;                             uninstall.exe's folders (LAUNCHER_FOLDER-N.tmp)
;                             in either Program Files that a killed setup,
;                             uninstaller or uninstall.exe left go, at once
;                             (what cannot, at the restart); not this
;                             program's own, nor those in use.
;   ${UnseenDesktop} OUT      OUT = "station\desktop" of a window station of
;                             this process's own, which no person sees, made
;                             once; "" when it cannot be made.
;
; Needs LogicLib.nsh, WinVer.nsh, FileFunc.nsh, Util.nsh, one_at_a_time.nsh,
; pending.nsh and the define PRODUCT.
;
; NSIS 3.08 as Debian builds it (with the fix for CVE-2023-37378) makes its
; plug-in folder ($PLUGINSDIR, nsXXXX.tmp) and the uninstaller's copy
; (~nsuN.tmp\Un.exe) in %TEMP%, each as a new folder (failing if the name
; exists) owned by Administrators, with an access list that gives
; Administrators everything and Everyone listing, reading and deleting its
; files (0x1200C1), not protected: on Windows the entries a parent passes on
; join it, and C:\Windows\Temp lets every user create files in its folders.
; A user could then delete a plug-in between its unpacking and its loading,
; or the copy before it starts, and put a program of theirs there. The
; uninstaller is therefore a program of the installer kind, which makes no
; copy of itself (installer/uninstall.nsi).

!ifndef ELEVATED_NSH
!define ELEVATED_NSH

!define PLUGINS_FOLDER "${PRODUCT}-plugins"
; uninstall_launcher.cpp makes these, N from 1 to 99.
!define LAUNCHER_FOLDER "${PRODUCT}-uninstall"

!define CheckSystem "!insertmacro CheckSystem"
!macro CheckSystem
  ${PluginsInProgramFiles} $R0
  ${IfNot} ${AtLeastWinVista}
    MessageBox MB_ICONSTOP "${PRODUCT} needs Windows Vista or later." /SD IDOK
    SetErrorLevel 1150 ; ERROR_OLD_WIN_VERSION
    Quit
  ${EndIf}
  ; Without a plug-in folder in Program Files, no plug-in is called: one
  ; unpacked into %TEMP% could be another user's program. The mutex comes
  ; first: a setup waiting for it has loaded the System plug-in, which keeps
  ; its folder from being taken for a leftover.
  ${If} $R0 = 1
    ${OneAtATime}
    UserInfo::GetAccountType
    Pop $R0
  ${EndIf}
  ${If} $R0 != "admin"
    MessageBox MB_ICONSTOP "${PRODUCT} registers a shell extension for all users: run this as an administrator." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
  ${RemoveLeftovers}
!macroend

; NSIS makes $PLUGINSDIR at the first plug-in call unless it is set, and
; deletes whatever it names when the program ends. A folder that only
; administrators can make is theirs alone: no user can make the name first.
; GetTempFileName reserves a name nstXXXX.tmp, a file no other program gets
; while it is there; the folder takes its number. A folder a killed setup
; left under that number is passed over.
!define PluginsInProgramFiles "!insertmacro PluginsInProgramFiles"
!macro PluginsInProgramFiles OUT
  ${CallArtificialFunction} _PluginsInProgramFiles
  Pop ${OUT}
!macroend

!macro _PluginsInProgramFiles
  Push $0 ; a reserved name, then the folder
  Push $1 ; the folder made
  Push $2 ; names reserved, kept on the stack until the folder is made
  StrCpy $1 ""
  StrCpy $2 0
  ${Do}
    GetTempFileName $0 "$PROGRAMFILES"
    ${If} $0 == ""
      ${Break}
    ${EndIf}
    Push $0
    IntOp $2 $2 + 1
    ${GetFileName} $0 $0
    StrCpy $0 $0 "" 3 ; XXXX.tmp, after NSIS's prefix "nst"
    StrCpy $0 "$PROGRAMFILES\${PLUGINS_FOLDER}-$0"
    ${IfNot} ${FileExists} $0
      ClearErrors
      CreateDirectory $0
      ${IfNot} ${Errors}
        StrCpy $1 $0
      ${EndIf}
      ${Break}
    ${EndIf}
  ${LoopWhile} $2 < 8
  ${DoWhile} $2 > 0
    Pop $0
    Delete $0
    IntOp $2 $2 - 1
  ${Loop}
  ${If} $1 != ""
    UnsafeStrCpy $PLUGINSDIR $1
    StrCpy $1 1
  ${Else}
    StrCpy $1 0
  ${EndIf}
  ClearErrors
  Pop $2
  Exch $1
  Exch
  Pop $0
!macroend

; _RemoveLeftover: the folder in $0 goes, unless it is this program's or in
; use: uninstall.exe holds its folder open sharing no deletion until it ends,
; and a running setup or uninstaller has loaded System.dll from its plug-in
; folder (uses $1 and $2).
!macro _RemoveLeftover
  ${If} $0 != $PLUGINSDIR
  ${AndIf} $0 != $EXEDIR
    ; DELETE, sharing everything; OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS.
    System::Call 'kernel32::CreateFileW(w r0, i 0x10000, i 7, p 0, i 3, i 0x02000000, p 0) p .r1'
    ${If} $1 P<> -1
      System::Call 'kernel32::CloseHandle(p r1)'
      ClearErrors
      Delete "$0\System.dll"
      ${IfNot} ${Errors}
        DetailPrint "Removing $0, left by a setup or uninstall that was ended."
        FindFirst $1 $2 "$0\*"
        ${DoWhile} $2 != ""
          ${If} $2 != "."
          ${AndIf} $2 != ".."
            ClearErrors
            Delete "$0\$2"
            ${If} ${Errors}
              ${DeleteAtRestart} "$0\$2"
            ${EndIf}
          ${EndIf}
          FindNext $1 $2
        ${Loop}
        FindClose $1
        ClearErrors
        RMDir $0
        ${If} ${Errors}
          ${DeleteAtRestart} $0
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ClearErrors
!macroend

; _RemoveLeftoversIn FOLDER NAME: each folder NAME-*.tmp of FOLDER (uses
; $0 to $3).
!macro _RemoveLeftoversIn FOLDER NAME
  FindFirst $3 $0 "${FOLDER}\${NAME}-*.tmp"
  ${DoWhile} $0 != ""
    StrCpy $0 "${FOLDER}\$0"
    ${If} ${FileExists} "$0\*.*"
      !insertmacro _RemoveLeftover
    ${EndIf}
    FindNext $3 $0
  ${Loop}
  FindClose $3
!macroend

!define RemoveLeftovers "!insertmacro RemoveLeftovers"
!macro RemoveLeftovers
  ${CallArtificialFunction} _RemoveLeftovers
!macroend

!macro _RemoveLeftovers
  Push $0
  Push $1
  Push $2
  Push $3
  !insertmacro _RemoveLeftoversIn $PROGRAMFILES32 ${PLUGINS_FOLDER}
  !insertmacro _RemoveLeftoversIn $PROGRAMFILES32 ${LAUNCHER_FOLDER}
  ; The names a killed setup or uninstaller reserved for its plug-in folder
  ; (_PluginsInProgramFiles): a waiting one has given its own back already.
  FindFirst $3 $0 "$PROGRAMFILES\nst*.tmp"
  ${DoWhile} $0 != ""
    ${IfNot} ${FileExists} "$PROGRAMFILES\$0\*.*"
      Delete "$PROGRAMFILES\$0"
    ${EndIf}
    FindNext $3 $0
  ${Loop}
  FindClose $3
  ${If} $PROGRAMFILES64 != $PROGRAMFILES32
    !insertmacro _RemoveLeftoversIn $PROGRAMFILES64 ${PLUGINS_FOLDER}
    !insertmacro _RemoveLeftoversIn $PROGRAMFILES64 ${LAUNCHER_FOLDER}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
!macroend

Var UnseenDesktop ; "" until made, "-" when it cannot be made

!define UnseenDesktop "!insertmacro UnseenDesktop"
!macro UnseenDesktop OUT
  ${CallArtificialFunction} _UnseenDesktop
  Pop ${OUT}
!macroend

!macro _UnseenDesktop
  Push $0
  Push $1
  Push $2
  Push $3
  ${If} $UnseenDesktop == ""
    StrCpy $UnseenDesktop "-"
    System::Call 'kernel32::GetCurrentProcessId() i .r0'
    StrCpy $0 "${PRODUCT}-$0"
    System::Call 'user32::GetProcessWindowStation() p .r1'
    ; CWF_CREATE_ONLY: a station someone else made under that name is not
    ; ours. WINSTA_ALL_ACCESS. The handles stay open until the program ends.
    System::Call 'user32::CreateWindowStationW(w r0, i 1, i 0x37F, p 0) p .r2'
    ${If} $2 P<> 0
      ; A desktop is made on the process's own station.
      System::Call 'user32::SetProcessWindowStation(p r2) i .r3'
      ${If} $3 <> 0
        System::Call 'user32::CreateDesktopW(w "Default", p 0, p 0, i 0, i 0x10000000, p 0) p .r3'
        System::Call 'user32::SetProcessWindowStation(p r1)'
        ${If} $3 P<> 0
          StrCpy $UnseenDesktop "$0\Default"
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
  ${If} $UnseenDesktop == "-"
    Push ""
  ${Else}
    Push $UnseenDesktop
  ${EndIf}
!macroend

!endif
