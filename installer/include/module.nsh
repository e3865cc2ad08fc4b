; module.nsh: putting PELLMORE.DLL of one architecture in place and
; registering it with the regsvr32 of that architecture, and undoing both.
; ARCH names the architecture (X64, X86, ARM64); each macro works with the
; variables Dir<ARCH> (its folder; empty where the system gets no module of
; that architecture, and then the macro does nothing), Registered<ARCH>,
; Placed<ARCH> and Aside<ARCH>, which this file declares, and packs the file
; the define <ARCH>_DLL names, which must carry the version VERSION.
;
;   ${ForEachModule} MACRO ARGS  !insertmacro MACRO ARCH ARGS for each
;                                architecture setup knows (ARGS: the other
;                                arguments, "" for none).
;   ${ModuleReset} ARCH REG      before the others: nothing placed or moved
;                                aside; Registered<ARCH> = REG (0 or 1)
;                                where there is a folder.
;   ${InstallModule} ARCH        setup: moves an existing module aside
;                                (renaming works while a program has it
;                                loaded), writes the new one, registers it.
;                                $R0 = "" on success, else what failed.
;   ${ReleaseAside} ARCH         setup, once all went well: deletes the old
;                                module moved aside, or, while a program
;                                still holds it, at the next restart.
;   ${RestoreModule} ARCH REREGISTER  setup's roll-back: deletes the new
;                                module (moves it aside to go at the restart
;                                while a program holds it) and puts the old
;                                one back under its name; REREGISTER 1
;                                registers that one again.
;   ${RegisterModule} ARCH FLAGS regsvr32 /s FLAGS of the module, ended after
;                                REGISTER_TIMEOUT_MS (60 s): $R0 = its exit
;                                code, "timeout" or "not started".
;   ${UnregisterModule} ARCH     setup and uninstaller: regsvr32 /u of a
;                                module registered; where that fails, its
;                                class key goes without it and $R1 = 1.
;   ${RemoveModule} ARCH         uninstaller: deletes the module, the old
;                                ones moved aside and its folder, each at the
;                                restart while in use.
;   ${ModuleSize} ARCH OUT       adds the module's size in bytes to OUT.
;   ${ModulePaths} ARCH OUT      appends "<module>|<folder>|" to OUT.
;
; A new architecture is its settings below, a folder in Dir<ARCH>, a
; <ARCH>_DLL define and a line in ForEachModule.
; Needs LogicLib.nsh, x64.nsh, FileFunc.nsh, elevated.nsh and the defines
; MODULE, CLSID, VERSION. For tests, TEST_WAIT_BEFORE_<ARCH>=FILE makes setup
; wait until FILE exists before it writes that architecture's module.

!ifndef MODULE_NSH
!define MODULE_NSH

!ifndef REGISTER_TIMEOUT_MS
  !define REGISTER_TIMEOUT_MS 60000
!endif

; Per architecture: the registry view of its class key, whether its
; regsvr32 is the system's native one (System32, seen with file system
; redirection off) rather than the 32-bit one ($SYSDIR of this 32-bit
; program), and its name in messages.
!define MODULE_X64_VIEW 64
!define MODULE_X64_NATIVE 1
!define MODULE_X64_NAME "64-bit"
!define MODULE_X86_VIEW 32
!define MODULE_X86_NATIVE 0
!define MODULE_X86_NAME "32-bit"
!define MODULE_ARM64_VIEW 64
!define MODULE_ARM64_NATIVE 1
!define MODULE_ARM64_NAME "ARM64"

; The architectures whose modules setup packs; the folder of one the system
; does not get is empty.
!define ForEachModule "!insertmacro ForEachModule"
!macro ForEachModule MACRO ARGS
  !ifdef ARM64_DLL
    !insertmacro ${MACRO} ARM64 ${ARGS}
  !endif
  !insertmacro ${MACRO} X64 ${ARGS}
  !insertmacro ${MACRO} X86 ${ARGS}
!macroend

; The version named at the build must be the one each module carries.
!macro _ModuleVersion ARCH
  !getdllversion /productversion "${${ARCH}_DLL}" ModuleVersion_
  !if "${ModuleVersion_1}.${ModuleVersion_2}.${ModuleVersion_3}.${ModuleVersion_4}" != "${VERSION}"
    !error "${${ARCH}_DLL} has product version ${ModuleVersion_1}.${ModuleVersion_2}.${ModuleVersion_3}.${ModuleVersion_4}, not ${VERSION}"
  !endif
  !undef ModuleVersion_1
  !undef ModuleVersion_2
  !undef ModuleVersion_3
  !undef ModuleVersion_4
!macroend
${ForEachModule} _ModuleVersion ""

!macro _ModuleVars ARCH
  Var Dir${ARCH}
  Var Registered${ARCH} ; regsvr32 ran for the module (1), also when it failed
  Var Placed${ARCH}     ; setup wrote the module (1)
  Var Aside${ARCH}      ; where setup moved the module it found, or ""
!macroend
${ForEachModule} _ModuleVars ""

!define ModuleReset "!insertmacro ModuleReset"
!macro ModuleReset ARCH REG
  StrCpy $Placed${ARCH} 0
  StrCpy $Aside${ARCH} ""
  StrCpy $Registered${ARCH} 0
  ${If} $Dir${ARCH} != ""
    StrCpy $Registered${ARCH} ${REG}
  ${EndIf}
!macroend

; RunTimed: takes a command line from the stack and leaves its exit code,
; "timeout" or "not started" there. The program runs on a window station no
; one sees (elevated.nsh), where the module shows no box: setup says in its
; own words what failed, and a silent setup never waits on a box. A
; registration that hangs all the same is ended after REGISTER_TIMEOUT_MS.
!macro _ModuleDefineRunTimed PREFIX
Function ${PREFIX}RunTimed
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  ${UnseenDesktop} $5
  ${If} $5 != ""
    System::Call '*(&w64 r5) p .r5' ; its name, for STARTUPINFOW.lpDesktop
  ${Else}
    StrCpy $5 0 ; the caller's
  ${EndIf}
  System::Alloc 68 ; STARTUPINFOW of a 32-bit process, zeroed
  Pop $1
  System::Call '*$1(i 68, p 0, p r5)'
  System::Alloc 16 ; PROCESS_INFORMATION
  Pop $2
  System::Call 'kernel32::CreateProcessW(p 0, w r0, p 0, p 0, i 0, i 0, p 0, p 0, p r1, p r2) i .r3'
  ${If} $3 = 0
    StrCpy $0 "not started"
  ${Else}
    System::Call '*$2(p .r3, p .r4)'
    System::Call 'kernel32::CloseHandle(p r4)'
    System::Call 'kernel32::WaitForSingleObject(p r3, i ${REGISTER_TIMEOUT_MS}) i .r4'
    ${If} $4 = 0x102 ; WAIT_TIMEOUT
      System::Call 'kernel32::TerminateProcess(p r3, i 1460)' ; ERROR_TIMEOUT
      System::Call 'kernel32::WaitForSingleObject(p r3, i 10000)'
      StrCpy $0 "timeout"
    ${Else}
      System::Call 'kernel32::GetExitCodeProcess(p r3, *i .r4)'
      StrCpy $0 $4
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r3)'
  ${EndIf}
  System::Free $1
  System::Free $2
  ${If} $5 P<> 0
    System::Free $5
  ${EndIf}
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro _ModuleDefineRunTimed ""
!insertmacro _ModuleDefineRunTimed "un."

!define RegisterModule "!insertmacro RegisterModule"
!macro RegisterModule ARCH FLAGS
  Push $R1
  !if ${MODULE_${ARCH}_NATIVE} = 1
    ${DisableX64FSRedirection}
    StrCpy $R1 "$WINDIR\System32\regsvr32.exe"
  !else
    StrCpy $R1 "$SYSDIR\regsvr32.exe"
  !endif
  Push '"$R1" /s ${FLAGS} "$Dir${ARCH}\${MODULE}"'
  !ifdef __UNINSTALL__
    Call un.RunTimed
  !else
    Call RunTimed
  !endif
  Pop $R0
  !if ${MODULE_${ARCH}_NATIVE} = 1
    ${EnableX64FSRedirection}
  !endif
  Pop $R1
!macroend

!define UnregisterModule "!insertmacro UnregisterModule"
!macro UnregisterModule ARCH
  ${If} $Registered${ARCH} = 1
    ${RegisterModule} ${ARCH} "/u"
    ${If} $R0 != 0
      DetailPrint "Unregistering the ${MODULE_${ARCH}_NAME} ${MODULE} failed ($R0): removing its class key."
      SetRegView ${MODULE_${ARCH}_VIEW}
      DeleteRegKey HKCR "CLSID\${CLSID}"
      SetRegView 32
      StrCpy $R1 1
    ${EndIf}
  ${EndIf}
!macroend

; PutAside: takes a folder from the stack and leaves "" when it holds no
; module, the new name of the module after renaming it, or "?" when that
; failed.
Function PutAside
  Exch $0
  Push $1
  ${If} ${FileExists} "$0\${MODULE}"
    StrCpy $1 1
    ${DoWhile} ${FileExists} "$0\${MODULE}.$1.old"
      IntOp $1 $1 + 1
    ${Loop}
    ClearErrors
    Rename "$0\${MODULE}" "$0\${MODULE}.$1.old"
    ${If} ${Errors}
      StrCpy $0 "?"
    ${Else}
      StrCpy $0 "$0\${MODULE}.$1.old"
    ${EndIf}
  ${Else}
    StrCpy $0 ""
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

!define InstallModule "!insertmacro InstallModule"
!macro InstallModule ARCH
  StrCpy $R0 ""
  ${If} $Dir${ARCH} != ""
    SetOutPath "$Dir${ARCH}"
    Push "$Dir${ARCH}"
    Call PutAside
    Pop $Aside${ARCH}
    ${If} $Aside${ARCH} == "?"
      StrCpy $Aside${ARCH} ""
      StrCpy $R0 "The ${MODULE_${ARCH}_NAME} $Dir${ARCH}\${MODULE} could not be renamed to make room for the new one."
    ${Else}
      !ifdef TEST_WAIT_BEFORE_${ARCH}
        ; Tests: programs may load the modules placed so far.
        ${DoUntil} ${FileExists} "${TEST_WAIT_BEFORE_${ARCH}}"
          Sleep 100
        ${Loop}
      !endif
      ClearErrors
      File "/oname=${MODULE}" "${${ARCH}_DLL}"
      ${If} ${Errors}
        StrCpy $R0 "The ${MODULE_${ARCH}_NAME} $Dir${ARCH}\${MODULE} could not be written."
      ${Else}
        StrCpy $Placed${ARCH} 1
        StrCpy $Registered${ARCH} 1
        ${RegisterModule} ${ARCH} ""
        ${If} $R0 == 0
          StrCpy $R0 ""
        ${ElseIf} $R0 == "timeout"
          StrCpy $R0 "Registering the ${MODULE_${ARCH}_NAME} ${MODULE} with regsvr32 did not finish within ${REGISTER_TIMEOUT_MS} ms; it was ended."
        ${Else}
          StrCpy $R0 "Registering the ${MODULE_${ARCH}_NAME} ${MODULE} with regsvr32 failed (exit code $R0)."
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

!define ReleaseAside "!insertmacro ReleaseAside"
!macro ReleaseAside ARCH
  ${If} $Aside${ARCH} != ""
    ClearErrors
    Delete "$Aside${ARCH}"
    ${If} ${Errors}
      DetailPrint "$Aside${ARCH} is in use: it will be deleted when Windows restarts."
      Push $0
      StrCpy $0 "$Aside${ARCH}"
      System::Call 'kernel32::MoveFileExW(w r0, p 0, i 4)' ; MOVEFILE_DELAY_UNTIL_REBOOT
      Pop $0
    ${EndIf}
  ${EndIf}
!macroend

!define RestoreModule "!insertmacro RestoreModule"
!macro RestoreModule ARCH REREGISTER
  ${If} $Placed${ARCH} = 1
    Delete "$Dir${ARCH}\${MODULE}"
    ; A program may hold the new module already: it moves aside and goes at
    ; the restart.
    ${If} ${FileExists} "$Dir${ARCH}\${MODULE}"
      Push $0
      Push "$Dir${ARCH}"
      Call PutAside
      Pop $0
      ${If} $0 != "?"
        DetailPrint "$0 is in use: it will be deleted when Windows restarts."
        System::Call 'kernel32::MoveFileExW(w r0, p 0, i 4)' ; MOVEFILE_DELAY_UNTIL_REBOOT
      ${EndIf}
      Pop $0
    ${EndIf}
  ${EndIf}
  ${If} $Aside${ARCH} != ""
    ClearErrors
    Rename "$Aside${ARCH}" "$Dir${ARCH}\${MODULE}"
    ${If} ${Errors}
      ; The new module stays, held where it is: the old one goes.
      Push $0
      StrCpy $0 "$Aside${ARCH}"
      System::Call 'kernel32::MoveFileExW(w r0, p 0, i 4)'
      Pop $0
    ${EndIf}
    !if ${REREGISTER} = 1
      ${RegisterModule} ${ARCH} ""
    !endif
  ${EndIf}
!macroend

!define RemoveModule "!insertmacro RemoveModule"
!macro RemoveModule ARCH
  ${If} $Dir${ARCH} != ""
    Delete /REBOOTOK "$Dir${ARCH}\${MODULE}"
    ; Old modules a setup moved aside: those still in use go at the restart,
    ; before their folder.
    Delete /REBOOTOK "$Dir${ARCH}\${MODULE}.*.old"
    RMDir /REBOOTOK "$Dir${ARCH}"
  ${EndIf}
!macroend

!define ModuleSize "!insertmacro ModuleSize"
!macro ModuleSize ARCH OUT
  ${If} $Dir${ARCH} != ""
    Push $R0
    Push $R1
    Push $R2
    ${GetSize} "$Dir${ARCH}" "/M=${MODULE} /S=0B /G=0" $R0 $R1 $R2
    Pop $R2
    Pop $R1
    IntOp ${OUT} ${OUT} + $R0
    Pop $R0
  ${EndIf}
!macroend

!define ModulePaths "!insertmacro ModulePaths"
!macro ModulePaths ARCH OUT
  ${If} $Dir${ARCH} != ""
    StrCpy ${OUT} "${OUT}$Dir${ARCH}\${MODULE}|$Dir${ARCH}|"
  ${EndIf}
!macroend

!endif
