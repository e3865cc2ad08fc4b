; module.nsh: putting PELLMORE.DLL of each architecture in place and
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
;   ${ModuleFolders}             .onInit and un.onInit: Dir<ARCH> of each
;                                module the system gets, and $INSTDIR.
;   ${ModuleReset} ARCH REG      before the others: nothing placed or moved
;                                aside; Registered<ARCH> = REG (0 or 1)
;                                where there is a folder.
;   ${InstallModule} ARCH OUT    setup, with OUT "" at first: moves an
;                                existing module aside (renaming works while
;                                a program has it loaded), writes the new one,
;                                registers it; OUT = what failed, if anything.
;                                Once OUT holds a failure it does nothing, so
;                                that the modules after the failed one are
;                                left alone.
;   ${ReleaseAside} ARCH         setup, once all went well: deletes the old
;                                module moved aside, or, while a program
;                                still holds it, at the next restart.
;   ${RestoreModule} ARCH INSTALLED  setup's roll-back: deletes the new
;                                module (moves it aside to go at the restart
;                                while a program holds it) and puts the old
;                                one back under its name; INSTALLED 1 (setup
;                                ran over an installed Tolvane) registers that
;                                one again, 0 removes the folder when empty.
;   ${UnregisterModules}         setup's roll-back and uninstaller: regsvr32 /u
;                                of each module registered; where that fails,
;                                the module's class key goes without it, and
;                                so does the ProgID (our handler keys go with
;                                the record, record.nsh).
;   ${RemoveModule} ARCH         uninstaller: deletes the module, the old
;                                ones moved aside and its folder, each at the
;                                restart while in use.
;   ${ModuleSize} ARCH OUT       adds the module's size in bytes to OUT.
;   ${ModulePaths} ARCH OUT      appends "<module>|<folder>|" to OUT.
;
; A new architecture is its settings below, its folder in ModuleFolders, a
; <ARCH>_DLL define and a line in ForEachModule.
; Needs LogicLib.nsh, x64.nsh, FileFunc.nsh, Util.nsh, elevated.nsh,
; pending.nsh, record.nsh and the defines PRODUCT, MODULE, CLSID, PROGID,
; VERSION. For tests, TEST_WAIT_BEFORE_<ARCH>=FILE makes setup wait until
; FILE exists before it writes that architecture's module; TEST_ARM64_BRANCH
; makes setup take the ARM64 branch on x64 Windows.

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

; The architectures whose modules setup packs, in this order.
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

; ArmTarget: the system gets the ARM64 module.
!ifdef TEST_ARM64_BRANCH
  !define ArmTarget `${RunningX64}`
!else
  !define ArmTarget `${IsNativeARM64}`
!endif

; Where each module goes on this system; "" for a module the system does not
; get.
!macro _ModuleFolder ARCH FOLDER
  StrCpy $Dir${ARCH} "${FOLDER}"
!macroend

!define ModuleFolders "!insertmacro CallArtificialFunction _ModuleFolders"
!macro _ModuleFolders
  ${ForEachModule} _ModuleFolder '""' ; none but those set below
  !ifdef ARM64_DLL
  ${If} ${ArmTarget}
    !insertmacro _ModuleFolder ARM64 "$PROGRAMFILES64\${PRODUCT}"
    !insertmacro _ModuleFolder X86 "$PROGRAMFILES32\${PRODUCT}"
  ${ElseIf} ${RunningX64}
  !else
  ${If} ${RunningX64}
  !endif
    !insertmacro _ModuleFolder X64 "$PROGRAMFILES64\${PRODUCT}"
    !insertmacro _ModuleFolder X86 "$PROGRAMFILES32\${PRODUCT}"
  ${Else}
    !insertmacro _ModuleFolder X86 "$PROGRAMFILES\${PRODUCT}"
  ${EndIf}
  ; The uninstaller is kept with the module of the system's own
  ; architecture, in the 64-bit Program Files wherever there is one.
  ${If} ${RunningX64}
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${Else}
    StrCpy $INSTDIR $DirX86
  ${EndIf}
!macroend

!define ModuleReset "!insertmacro ModuleReset"
!macro ModuleReset ARCH REG
  StrCpy $Placed${ARCH} 0
  StrCpy $Aside${ARCH} ""
  StrCpy $Registered${ARCH} 0
  ${If} $Dir${ARCH} != ""
    StrCpy $Registered${ARCH} ${REG}
  ${EndIf}
!macroend

; _ModuleRunTimed: takes a command line from the stack and leaves its exit
; code, "timeout" or "not started" there. The program runs on a window
; station no one sees (elevated.nsh), where the module shows no box: setup
; says in its own words what failed, and a silent setup never waits on a
; box. A registration that hangs all the same is ended after
; REGISTER_TIMEOUT_MS.
!macro _ModuleRunTimed
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
!macroend

; _ModuleRegister ARCH FLAGS OUT: regsvr32 /s FLAGS of the module, ended
; after REGISTER_TIMEOUT_MS (60 s): OUT = its exit code, "timeout" or "not
; started".
!macro _ModuleRegister ARCH FLAGS OUT
  !if ${MODULE_${ARCH}_NATIVE} = 1
    ${DisableX64FSRedirection}
    Push '"$WINDIR\System32\regsvr32.exe" /s ${FLAGS} "$Dir${ARCH}\${MODULE}"'
  !else
    Push '"$SYSDIR\regsvr32.exe" /s ${FLAGS} "$Dir${ARCH}\${MODULE}"'
  !endif
  ${CallArtificialFunction} _ModuleRunTimed
  Pop ${OUT}
  !if ${MODULE_${ARCH}_NATIVE} = 1
    ${EnableX64FSRedirection}
  !endif
!macroend

; _ModuleUnregister ARCH CODE FAILED: CODE = regsvr32 /u's result; FAILED = 1
; when it failed.
!macro _ModuleUnregister ARCH CODE FAILED
  ${If} $Registered${ARCH} = 1
    !insertmacro _ModuleRegister ${ARCH} "/u" ${CODE}
    ${If} ${CODE} != 0
      DetailPrint "Unregistering the ${MODULE_${ARCH}_NAME} ${MODULE} failed (${CODE}): removing its class key."
      SetRegView ${MODULE_${ARCH}_VIEW}
      DeleteRegKey HKCR "CLSID\${CLSID}"
      SetRegView 32
      StrCpy ${FAILED} 1
    ${EndIf}
  ${EndIf}
!macroend

; Where regsvr32 fails, the ProgID goes without it.
!define UnregisterModules "!insertmacro CallArtificialFunction _UnregisterModules"
!macro _UnregisterModules
  Push $R0
  Push $R1
  StrCpy $R1 0
  ${ForEachModule} _ModuleUnregister "$R0 $R1"
  ${If} $R1 <> 0
    DeleteRegKey HKCR "${PROGID}"
  ${EndIf}
  ClearErrors
  Pop $R1
  Pop $R0
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
!macro InstallModule ARCH OUT
  ${If} ${OUT} == ""
  ${AndIf} $Dir${ARCH} != ""
    SetOutPath "$Dir${ARCH}"
    Push "$Dir${ARCH}"
    Call PutAside
    Pop $Aside${ARCH}
    ${If} $Aside${ARCH} == "?"
      StrCpy $Aside${ARCH} ""
      StrCpy ${OUT} "The ${MODULE_${ARCH}_NAME} $Dir${ARCH}\${MODULE} could not be renamed to make room for the new one."
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
        StrCpy ${OUT} "The ${MODULE_${ARCH}_NAME} $Dir${ARCH}\${MODULE} could not be written."
      ${Else}
        StrCpy $Placed${ARCH} 1
        StrCpy $Registered${ARCH} 1
        !insertmacro _ModuleRegister ${ARCH} "" ${OUT}
        ${If} ${OUT} == 0
          StrCpy ${OUT} ""
        ${ElseIf} ${OUT} == "timeout"
          StrCpy ${OUT} "Registering the ${MODULE_${ARCH}_NAME} ${MODULE} with regsvr32 did not finish within ${REGISTER_TIMEOUT_MS} ms; it was ended."
        ${Else}
          StrCpy ${OUT} "Registering the ${MODULE_${ARCH}_NAME} ${MODULE} with regsvr32 failed (exit code ${OUT})."
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
      ${DeleteAtRestart} "$Aside${ARCH}"
    ${EndIf}
  ${EndIf}
!macroend

!define RestoreModule "!insertmacro RestoreModule"
!macro RestoreModule ARCH INSTALLED
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
        ${DeleteAtRestart} $0
      ${EndIf}
      Pop $0
    ${EndIf}
  ${EndIf}
  ${If} $Aside${ARCH} != ""
    ClearErrors
    Rename "$Aside${ARCH}" "$Dir${ARCH}\${MODULE}"
    ${If} ${Errors}
      ; The new module stays, held where it is: the old one goes.
      ${DeleteAtRestart} "$Aside${ARCH}"
    ${EndIf}
    ${If} ${INSTALLED} = 1
      Push $0
      !insertmacro _ModuleRegister ${ARCH} "" $0
      Pop $0
    ${EndIf}
  ${EndIf}
  ${If} ${INSTALLED} = 0
  ${AndIf} $Dir${ARCH} != ""
    RMDir "$Dir${ARCH}"
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
