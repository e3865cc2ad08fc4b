; elevated.nsh: where setup and the uninstaller, which run elevated (as
; SYSTEM under a deployment tool), keep what they load and run. Nothing comes
; from a place a standard user can write or make first (%TEMP%, which is
; C:\Windows\Temp for SYSTEM): only from Program Files and the Windows folder,
; or from a folder made for it there and then, with an access list of its own
; (the uninstaller: installer/launcher/uninstall_launcher.c).
;
;   ${PluginsInProgramFiles} OUT  first thing in .onInit and un.onInit,
;                             before any plug-in: NSIS's plug-ins are
;                             unpacked into a new folder of Program Files,
;                             not of %TEMP%; OUT = 1, or 0 when that folder
;                             cannot be made (no administrator could make
;                             it), and then no plug-in may be called.
;   ${UnseenDesktop} OUT      OUT = "station\desktop" of a window station of
;                             this process's own, which no person sees, made
;                             once; "" when it cannot be made.
;
; Needs LogicLib.nsh, Util.nsh and the define PRODUCT.
;
; NSIS 3.08 as Debian builds it (with the fix for CVE-2023-37378) makes its
; plug-in folder ($PLUGINSDIR, nsXXXX.tmp) and the uninstaller's copy
; (~nsuN.tmp\Un.exe) in %TEMP%, each as a new folder (failing if the name
; exists) owned by Administrators, with an access list that gives
; Administrators everything and Everyone listing, reading and deleting its
; files (0x1200C1), not protected: on Windows the entries a parent passes on
; join it, and C:\Windows\Temp lets every user create files in its folders.
; A user could then delete a plug-in between its unpacking and its loading,
; or the copy before it starts, and put a program of theirs there.

!ifndef ELEVATED_NSH
!define ELEVATED_NSH

; NSIS makes $PLUGINSDIR at the first plug-in call unless it is set, and
; deletes whatever it names when the program ends. A folder that only
; administrators can make is theirs alone: no user can make the name first.
!define PluginsInProgramFiles "!insertmacro PluginsInProgramFiles"
!macro PluginsInProgramFiles OUT
  Push $0
  Push 0
  GetTempFileName $0 "$PROGRAMFILES"
  ${If} $0 != ""
    Delete $0
    ClearErrors
    CreateDirectory $0
    ${IfNot} ${Errors}
      UnsafeStrCpy $PLUGINSDIR $0
      Pop $0
      Push 1
    ${EndIf}
  ${EndIf}
  ClearErrors
  Exch
  Pop $0
  Pop ${OUT}
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
