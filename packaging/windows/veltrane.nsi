; Veltrane's installer for Windows, built with NSIS by scripts/build-windows.sh:
;   makensis -NOCD -DVERSION=1.55 -DEXE32=... -DEXE64=... -DREADME=... -DOUTFILE=... packaging/windows/veltrane.nsi
;
; A per-user install: no administrator needed. The program goes to
; %LOCALAPPDATA%\Programs\Veltrane, a folder the user may write, since the
; settings (Veltrane.INI) and the log (Veltrane.log, OldLog.log) live next to
; the executable. Start-menu entries for Veltrane and its configuration, and
; (a component, on unless /NOSTARTUP is given) a shortcut in the Startup
; folder, so that the clock is set at every log-on. The uninstaller removes
; what the installer put there and leaves the settings and the logs.
;
; Silent: setup.exe /S [/NOSTARTUP] [/D=folder]; uninstall.exe /S.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrane"

Name "Veltrane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Veltrane"
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
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The first start finds no settings and opens the configuration dialog.
!define MUI_FINISHPAGE_RUN "$INSTDIR\veltrane.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Configure Veltrane now"
!define MUI_FINISHPAGE_RUN_PARAMETERS "config"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Veltrane" SecProgram
  SectionIn RO
  SetShellVarContext current
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
  CreateShortcut "$SMPROGRAMS\Veltrane\Veltrane Configuration.lnk" "$INSTDIR\veltrane.exe" "config" \
    "$INSTDIR\veltrane.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Veltrane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Veltrane developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\veltrane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Set the clock at every log-on" SecStartup
  SetShellVarContext current
  CreateShortcut "$SMSTARTUP\Veltrane.lnk" "$INSTDIR\veltrane.exe" "" "$INSTDIR\veltrane.exe" 0
SectionEnd

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NOSTARTUP" $R1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\veltrane.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Veltrane\Veltrane.lnk"
  Delete "$SMPROGRAMS\Veltrane\Veltrane Configuration.lnk"
  RMDir "$SMPROGRAMS\Veltrane"
  Delete "$SMSTARTUP\Veltrane.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Veltrane.INI, Veltrane.log and OldLog.log are the user's: they stay, and
  ; with them the folder.
  RMDir "$INSTDIR"
SectionEnd
