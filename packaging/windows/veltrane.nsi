; Veltrane's installer for Windows, built with NSIS by scripts/build-windows.sh:
;   makensis -NOCD -DVERSION=1.55 -DEXE32=... -DEXE64=... -DREADME=... -DALLUSERS_MARK_FILE=... -DOUTFILE=...
;     [-DSIGN="bash scripts/sign-windows.sh"] packaging/windows/veltrane.nsi
;
; Two ways to install, asked on the first page (an administrator is asked;
; anyone else gets the second):
;
; - Anyone who uses this computer (needs an administrator): the program in
;   Program Files; the machine's settings and log in %ProgramData%\Veltrane,
;   which only administrators and the task may change and users may read;
;   the Task Scheduler task "Veltrane\Set the clock", which runs
;   "veltrane.exe --machine" as LOCAL SERVICE, the account that may set the
;   clock, at start-up, at each log-on and daily (veltrane.exe
;   --install-machine makes the folder, writes the settings as installed, the
;   LAN and the built-in server, where it has none, and registers the task);
;   Start-menu entries for
;   everyone: Veltrane (each user's own run, whose files live in the user's
;   %LOCALAPPDATA%\Veltrane), "Veltrane log" (that run's log, veltrane.exe
;   --open-log) and "Veltrane settings for all users" (veltrane.exe
;   --machine config, which asks for an administrator).
; - Only for me (as before): %LOCALAPPDATA%\Programs\Veltrane, a folder the
;   user may write, since the settings (Veltrane.INI) and the log
;   (Veltrane.log, OldLog.log) live next to the executable. Start-menu entries
;   for Veltrane, its configuration and its log, and (a component, on unless
;   /NOSTARTUP is given) a shortcut in the Startup folder. Its runs set the
;   clock only with the right to change the time, which the page and the
;   component say.
;
; The uninstaller removes what the installer put there: the program, the
; entries, the task. The settings and the logs stay, unless /PURGE is given
; to the uninstaller of an install for all users.
;
; Silent: setup.exe /S [/ALLUSERS | /CURRENTUSER] [/NOSTARTUP]
;   [/SERVER="host (what it is)"] [/DELAY=seconds] [/TOLERANCE=seconds] [/D=folder];
; uninstall.exe /S [/PURGE]. /SERVER=, /DELAY= and /TOLERANCE= preset those
; settings (NTPServer, Delay, Tolerance) through the program's own INI writer:
; for all users in the machine's settings, as the MSI's properties do; for
; the user alone in the settings beside the program, which a start then finds
; (on the LAN where the file is new) instead of opening the configuration
; dialog. Settings not given stay as they are.
Unicode true
SetCompressor /SOLID lzma

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "Veltrane"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_FUNCTION OnInstallMode
; (Strings on one line each: a continued line would bring its indent along.)
!define MULTIUSER_INSTALLMODEPAGE_TEXT_TOP "Setting the clock needs the right to change the system time. Installed for anyone who uses this computer, a task sets the clock at start-up, at each log-on and daily. Installed only for you, Veltrane sets it only when started with $\"Run as administrator$\"."
!define MULTIUSER_INSTALLMODEPAGE_TEXT_ALLUSERS "Anyone who uses this computer (the task sets the clock)"
!define MULTIUSER_INSTALLMODEPAGE_TEXT_CURRENTUSER "Only for me (the clock is set only as administrator)"

!include "MultiUser.nsh"
!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "WordFunc.nsh"

Var Server
Var Delay
Var Tolerance

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrane"
!define URL "https://github.com/veltrane/veltrane"
; Beside the program of an install for all users (the program reads it too:
; each user's own files then live in %LOCALAPPDATA%\Veltrane).
!define ALLUSERS_MARK "installed-for-all-users.txt"

Name "Veltrane ${VERSION}"
OutFile "${OUTFILE}"
; Signed where a certificate is given (scripts/sign-windows.sh): the
; uninstaller as it is written into the setup, then the setup itself.
!ifdef SIGN
  !uninstfinalize '${SIGN} "%1"' = 0
  !finalize '${SIGN} "%1"' = 0
!endif
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Veltrane"
VIAddVersionKey /LANG=1033 "FileDescription" "Veltrane ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) The Veltrane developers"

!define MUI_ICON "src/platform/win32/resources/veltrane.ico"
!define MUI_UNICON "src/platform/win32/resources/veltrane.ico"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
; Said before the Startup entry is ticked; for all users there is nothing to
; choose.
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipComponentsForAllUsers
!define MUI_COMPONENTSPAGE_TEXT_TOP "Started at each log-on, Veltrane sets the clock only with the right to change the system time, which standard users lack, and administrators too unless it runs $\"as administrator$\"."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The first start finds no settings and opens the configuration dialog; for
; all users, the machine's settings.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Choose the time server now"
!define MUI_FINISHPAGE_RUN_FUNCTION OpenSettings
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Veltrane" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "/oname=veltrane.exe" "${EXE64}"
  ${Else}
    File "/oname=veltrane.exe" "${EXE32}"
  ${EndIf}
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Veltrane"
  CreateShortcut "$SMPROGRAMS\Veltrane\Veltrane.lnk" "$INSTDIR\veltrane.exe" "" "$INSTDIR\veltrane.exe" 0
  CreateShortcut "$SMPROGRAMS\Veltrane\Veltrane log.lnk" "$INSTDIR\veltrane.exe" "--open-log" \
    "$INSTDIR\veltrane.exe" 0
  ${If} $MultiUser.InstallMode == "AllUsers"
    File "/oname=${ALLUSERS_MARK}" "${ALLUSERS_MARK_FILE}"
    CreateShortcut "$SMPROGRAMS\Veltrane\Veltrane settings for all users.lnk" "$INSTDIR\veltrane.exe" \
      "--machine config" "$INSTDIR\veltrane.exe" 0
    ; The machine's folder, its settings as installed (where it has none)
    ; with the settings given (an empty one presets nothing) and the task,
    ; by the program itself.
    nsExec::ExecToLog '"$INSTDIR\veltrane.exe" --install-machine "NTPServer=$Server" "Delay=$Delay" "Tolerance=$Tolerance"'
    Pop $0
    ${If} $0 != 0
      SetErrorLevel 2
      Abort "Veltrane could not set up the machine's folder and task (status $0)."
    ${EndIf}
  ${Else}
    CreateShortcut "$SMPROGRAMS\Veltrane\Veltrane Configuration.lnk" "$INSTDIR\veltrane.exe" "config" \
      "$INSTDIR\veltrane.exe" 0
    ${If} "$Server$Delay$Tolerance" != ""
      nsExec::ExecToLog '"$INSTDIR\veltrane.exe" --preset-settings "NTPServer=$Server" "Delay=$Delay" "Tolerance=$Tolerance"'
      Pop $0
      ${If} $0 != 0
        SetErrorLevel 2
        Abort "Veltrane could not write the settings given (status $0)."
      ${EndIf}
    ${EndIf}
  ${EndIf}

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Veltrane"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Veltrane developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\veltrane.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "URLInfoAbout" "${URL}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "HelpLink" "${URL}#readme"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ; The size Settings shows, in KiB: what this section put in the folder.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Start at each log-on" SecStartup
  CreateShortcut "$SMSTARTUP\Veltrane.lnk" "$INSTDIR\veltrane.exe" "" "$INSTDIR\veltrane.exe" 0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "veltrane.exe and its notes, and its entries in the Start menu."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecStartup} "Starts Veltrane at each log-on. Without the right to change the time, its log says so and the clock stays as it is."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; The Startup shortcut belongs to an install for the user alone: for all
; users the task sets the clock.
Function OnInstallMode
  ${If} $MultiUser.InstallMode == "AllUsers"
    !insertmacro UnselectSection ${SecStartup}
    SectionSetText ${SecStartup} ""
  ${Else}
    SectionSetText ${SecStartup} "Start at each log-on"
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/NOSTARTUP" $R1
    ${If} ${Errors}
      !insertmacro SelectSection ${SecStartup}
    ${Else}
      !insertmacro UnselectSection ${SecStartup}
    ${EndIf}
  ${EndIf}
FunctionEnd

; /SERVER=, /DELAY= and /TOLERANCE= of the command line; empty where not
; given. A quote inside a value would break the program's command line: the
; setup ends before it installs anything. (The program checks the rest.)
Function ReadPresets
  ${GetParameters} $R0
  ; "/SERVER=a b", as most programs quote a whole argument, is the
  ; /SERVER="a b" that GetOptions reads.
  ${WordReplace} $R0 '"/SERVER=' '/SERVER="' "+" $R0
  ${WordReplace} $R0 '"/DELAY=' '/DELAY="' "+" $R0
  ${WordReplace} $R0 '"/TOLERANCE=' '/TOLERANCE="' "+" $R0
  ${GetOptions} $R0 "/SERVER=" $Server
  ${GetOptions} $R0 "/DELAY=" $Delay
  ${GetOptions} $R0 "/TOLERANCE=" $Tolerance
  StrCpy $R1 "$Server$Delay$Tolerance"
  StrCpy $R2 0
  ${Do}
    StrCpy $R3 $R1 1 $R2
    ${If} $R3 == '"'
      MessageBox MB_OK|MB_ICONSTOP "/SERVER=, /DELAY= and /TOLERANCE= take no quote inside their values." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${LoopUntil} $R3 == ""
FunctionEnd

Function SkipComponentsForAllUsers
  ${If} $MultiUser.InstallMode == "AllUsers"
    Abort
  ${EndIf}
FunctionEnd

Function OpenSettings
  ${If} $MultiUser.InstallMode == "AllUsers"
    Exec '"$INSTDIR\veltrane.exe" --machine config'
  ${Else}
    Exec '"$INSTDIR\veltrane.exe" config'
  ${EndIf}
FunctionEnd

Function .onInit
  ; The uninstall entry of a 64-bit program in the 64-bit registry.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  !insertmacro MULTIUSER_INIT
  Call ReadPresets
FunctionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  !insertmacro MULTIUSER_UNINIT
  ; The uninstaller's own folder says which install it belongs to.
  ${If} ${FileExists} "$INSTDIR\${ALLUSERS_MARK}"
    ${If} $MultiUser.Privileges != "Admin"
    ${AndIf} $MultiUser.Privileges != "Power"
      MessageBox MB_OK|MB_ICONSTOP "Veltrane was installed for all users: only an administrator can remove it." \
        /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    Call un.MultiUser.InstallMode.AllUsers
  ${Else}
    Call un.MultiUser.InstallMode.CurrentUser
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ${If} $MultiUser.InstallMode == "AllUsers"
    ; The task; with /PURGE also the machine's settings and log.
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/PURGE" $R1
    ${If} ${Errors}
      nsExec::ExecToLog '"$INSTDIR\veltrane.exe" --uninstall-machine'
    ${Else}
      nsExec::ExecToLog '"$INSTDIR\veltrane.exe" --uninstall-machine --purge'
    ${EndIf}
    Pop $0
    Delete "$INSTDIR\${ALLUSERS_MARK}"
    Delete "$SMPROGRAMS\Veltrane\Veltrane settings for all users.lnk"
  ${EndIf}
  Delete "$INSTDIR\veltrane.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Veltrane\Veltrane.lnk"
  Delete "$SMPROGRAMS\Veltrane\Veltrane log.lnk"
  Delete "$SMPROGRAMS\Veltrane\Veltrane Configuration.lnk"
  RMDir "$SMPROGRAMS\Veltrane"
  Delete "$SMSTARTUP\Veltrane.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ; For the user alone, Veltrane.INI, Veltrane.log and OldLog.log are the
  ; user's: they stay, and with them the folder.
  RMDir "$INSTDIR"
SectionEnd
