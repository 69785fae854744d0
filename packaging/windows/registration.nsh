; Registration of the bundled cash device simulators by the installer, and
; their unregistration by the uninstaller.
;
; The class may already belong to another server: the user's own component,
; the thing the panel exists to test. Registering a simulator under the same
; class would hide it (the panel would silently drive the simulator), so the
; simulators are registered only where no other server has the class, in
; either registry view (64-bit and 32-bit) of the machine's or this user's
; classes. What was left alone, and why, goes into the details of the
; installation, into Registration.log in the installation folder and onto the
; finish page. The uninstaller asks each simulator to unregister itself,
; which removes only registrations that name that very file.
;
; Defined before this file is included: MONVIA_CLSID, the class identifier;
; MONVIA_PACKAGE_NAME; MONVIA_X86 when the installation holds the 32-bit
; panel and simulator (in its x86 folder).

!include LogicLib.nsh

!define MONVIA_SERVER_KEY "Software\Classes\CLSID\${MONVIA_CLSID}\InprocServer32"

Var MonviaNote      ; what the finish page says about registration
Var MonviaLog       ; handle of Registration.log
Var MonviaForeign   ; 1 when another server has the class somewhere
Var MonviaPath      ; MonviaSameFile's arguments and result
Var MonviaOurs
Var MonviaSame

; The finish page (also the text shown after a silent run's log).
!define MUI_FINISHPAGE_TEXT "${MONVIA_PACKAGE_NAME} has been installed on your computer.\r\n\r\n$MonviaNote\r\n\r\nClick Finish to close this wizard."
!define MUI_FINISHPAGE_TEXT_LARGE

; One line into the details, the log and the finish page's note.
!macro MonviaSay text
  DetailPrint "${text}"
  FileWrite $MonviaLog "${text}$\r$\n"
  ${If} $MonviaNote == ""
    StrCpy $MonviaNote "${text}"
  ${Else}
    StrCpy $MonviaNote "$MonviaNote\r\n${text}"
  ${EndIf}
!macroend

; Sets $MonviaSame to 1 when $MonviaPath names the file $MonviaOurs (another
; spelling of it, other letter case or short names, counts as the same
; file), else to 0. Uses $2 and $3.
Function MonviaSameFile
  StrCpy $MonviaSame 1
  StrCmp $MonviaPath $MonviaOurs done ; case-insensitive
  StrCpy $MonviaSame 0
  IfFileExists $MonviaPath 0 done
  GetFullPathName /SHORT $2 $MonviaPath
  GetFullPathName /SHORT $3 $MonviaOurs
  StrCmp $2 "" done
  StrCmp $2 $3 0 done
  StrCpy $MonviaSame 1
done:
FunctionEnd

; Looks at one registration of the class (root HKLM or HKCU, view 64 or 32):
; when it names a server other than the simulator of that view, says so and
; sets $MonviaForeign.
!macro MonviaLookAt root view ours where
  SetRegView ${view}
  ClearErrors
  ReadRegStr $0 ${root} "${MONVIA_SERVER_KEY}" ""
  ${If} ${Errors}
  ${OrIf} $0 == ""
    ; not registered there
  ${Else}
    ExpandEnvStrings $MonviaPath $0
    StrCpy $MonviaOurs "${ours}"
    Call MonviaSameFile
    ${If} $MonviaSame == 0
      StrCpy $MonviaForeign 1
      !insertmacro MonviaSay "${where} have the cash device class registered for $MonviaPath."
    ${EndIf}
  ${EndIf}
  SetRegView default
!macroend

; Registers one simulator with the regsvr32 of its bitness and checks the
; registration it wrote into its view.
!macro MonviaRegister regsvr32 view dll what
  ClearErrors
  StrCpy $0 ""
  ExecWait '"${regsvr32}" /s "${dll}"' $0
  ${If} ${Errors}
    !insertmacro MonviaSay "The ${what} simulator could not be registered: ${regsvr32} could not be started. Register it by hand: ${regsvr32} $\"${dll}$\""
  ${ElseIf} $0 != 0
    !insertmacro MonviaSay "The ${what} simulator could not be registered (regsvr32 exit code $0). Register it by hand: ${regsvr32} $\"${dll}$\""
  ${Else}
    SetRegView ${view}
    ReadRegStr $1 HKLM "${MONVIA_SERVER_KEY}" ""
    SetRegView default
    !insertmacro MonviaSay "The ${what} simulator is registered for the machine: $1"
  ${EndIf}
!macroend

Function MonviaRegisterSimulators
  FileOpen $MonviaLog "$INSTDIR\Registration.log" w
  StrCpy $MonviaNote ""
  StrCpy $MonviaForeign 0
  !insertmacro MonviaLookAt HKLM 64 "$INSTDIR\cashdevice_sim.dll" "The machine's 64-bit classes"
  !insertmacro MonviaLookAt HKCU 64 "$INSTDIR\cashdevice_sim.dll" "Your own 64-bit classes"
!ifdef MONVIA_X86
  !insertmacro MonviaLookAt HKLM 32 "$INSTDIR\x86\cashdevice_sim.dll" "The machine's 32-bit classes"
  !insertmacro MonviaLookAt HKCU 32 "$INSTDIR\x86\cashdevice_sim.dll" "Your own 32-bit classes"
!endif
  ${If} $MonviaForeign == 1
    !insertmacro MonviaSay "The simulators were not registered and that registration was left as it was: the panels create the server registered there, never the simulator in its place. To test with the simulator instead, register it for yourself in front of it (see README.txt)."
  ${Else}
    !insertmacro MonviaRegister "$SYSDIR\regsvr32.exe" 64 "$INSTDIR\cashdevice_sim.dll" "64-bit"
!ifdef MONVIA_X86
    !insertmacro MonviaRegister "$WINDIR\SysWOW64\regsvr32.exe" 32 "$INSTDIR\x86\cashdevice_sim.dll" "32-bit"
!endif
  ${EndIf}
  FileClose $MonviaLog
FunctionEnd

; Each simulator removes only the registrations that name its own file; a
; registration of another server is never touched.
Function un.MonviaUnregisterSimulators
  ; The journal goes first where it is in front of the class, for the machine
  ; and for the user who uninstalls: off puts back the registration it
  ; fronts, which would otherwise name a journal DLL about to be removed, and
  ; the simulators' registrations are then unregistered as usual. Where the
  ; journal is not on, off says so and changes nothing.
  IfFileExists "$INSTDIR\monvia-journal.exe" 0 monvia_no_journal
    nsExec::Exec '"$INSTDIR\monvia-journal.exe" off --system'
    Pop $0
    nsExec::Exec '"$INSTDIR\monvia-journal.exe" off'
    Pop $0
  monvia_no_journal:
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\cashdevice_sim.dll"'
!ifdef MONVIA_X86
  IfFileExists "$WINDIR\SysWOW64\regsvr32.exe" 0 +2
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /u /s "$INSTDIR\x86\cashdevice_sim.dll"'
!endif
  Delete "$INSTDIR\Registration.log"
FunctionEnd
