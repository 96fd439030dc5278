; Setup of the Morvane module updater for one Windows architecture: the programs, the adapter
; library, the INF files with the register driver, a Start-menu entry and an uninstaller.
; Silent: setup.exe /S /D=<folder> (the folder last, without quotes); uninstall.exe /S.
;
; makensis defines (packaging/windows/make_installer.cmake passes them):
;   ARCH         x86_64 or i686
;   VERSION      the program version, e.g. 1.22.0
;   BIN_DIR      the Windows build's bin folder: loader-cli.exe, cibridge.dll[, loader.exe]
;   HAVE_LOADER  defined when BIN_DIR holds the window program loader.exe
;   DRIVER_DIR   the folder with morvane-ci-adapter.inf and cicard.inf
;   CICARD_SYS   the register driver built for ARCH
;   OUTFILE      the setup program to write
;   PRODUCT, PUBLISHER, HOMEPAGE, VERSION4 (x.y.z.0)   the project's identity
;   LICENSE_FILE the licence text (CR LF); ICON the program's icon
;   SIGN_COMMAND when given, signs the uninstaller (the setup is signed after makensis)
;
; Reproducible: no file's date is stored (SetDateSave off), so two builds of one commit give
; the same setup.

Unicode true
SetCompressor /SOLID lzma
SetDateSave off
RequestExecutionLevel admin
; The setup's own windows scale with the display (NSIS lays them out in dialog units).
ManifestDPIAware true
ManifestSupportedOS all
!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup (${ARCH})"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "MIT License"

!if "${ARCH}" == "x86_64"
  Target amd64-unicode
  !define DRIVER_ARCH_DIR "x64"
  !define PROGRAM_FILES "$PROGRAMFILES64"
!else
  Target x86-unicode
  !define DRIVER_ARCH_DIR "x86"
  !define PROGRAM_FILES "$PROGRAMFILES"
!endif

!include "MUI2.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MorvaneLoader"
!define START_MENU "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FILES}\${PRODUCT}"
; A second installation goes where the first went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!include "FileFunc.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${LICENSE_FILE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The setup speaks German on a German Windows and English on every other: the first language
; is the one taken when none matches the system's. The programs' own texts stay German.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString NeedsX86Windows ${LANG_ENGLISH} "This setup is for 32-bit Windows. Please use the x64 setup."
LangString NeedsX86Windows ${LANG_GERMAN} "Dieses Setup ist für 32-Bit-Windows. Bitte verwenden Sie das x64-Setup."
LangString RemoveEntry ${LANG_ENGLISH} "Remove ${PRODUCT}"
LangString RemoveEntry ${LANG_GERMAN} "${PRODUCT} entfernen"
LangString InstallingDrivers ${LANG_ENGLISH} "Installing the drivers..."
LangString InstallingDrivers ${LANG_GERMAN} "Treiber werden installiert..."

Function .onInit
  SetShellVarContext all
!if "${ARCH}" == "i686"
  ; A 32-bit Windows only: a 64-bit one loads no x86 kernel driver.
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "$(NeedsX86Windows)" /SD IDOK
    Abort
  ${EndIf}
!endif
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Programm"
  SetOutPath "$INSTDIR"
!ifdef HAVE_LOADER
  File "${BIN_DIR}/loader.exe"
!endif
  File "${BIN_DIR}/loader-cli.exe"
  File "${BIN_DIR}/cibridge.dll"
  File "/oname=LICENSE.txt" "${LICENSE_FILE}"
  SetOutPath "$INSTDIR\Treiber"
  File "${DRIVER_DIR}/morvane-ci-adapter.inf"
  File "${DRIVER_DIR}/cicard.inf"
  SetOutPath "$INSTDIR\Treiber\${DRIVER_ARCH_DIR}"
  File "${CICARD_SYS}"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "${START_MENU}"
!ifdef HAVE_LOADER
  CreateShortcut "${START_MENU}\${PRODUCT}.lnk" "$INSTDIR\loader.exe"
!else
  ; Without the window program, the terminal program in a console window that stays open.
  CreateShortcut "${START_MENU}\${PRODUCT}.lnk" "$SYSDIR\cmd.exe" '/k "$INSTDIR\loader-cli.exe"'
!endif
  CreateShortcut "${START_MENU}\$(RemoveEntry).lnk" "$INSTDIR\uninstall.exe"

  ; The settings file "Morvane.ini" lives in the Windows folder, where the programs' private-
  ; profile calls keep a file named without a folder. A standard user may not create files
  ; there, and the programs' manifests turn off the file virtualization that would redirect
  ; the write, so the setup makes the file and lets the users change it: saving on close then
  ; works for every user. An existing file keeps its settings.
  FileOpen $0 "$WINDIR\Morvane.ini" a
  FileClose $0
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$WINDIR\Morvane.ini" /grant *S-1-5-32-545:(M)'
  Pop $0
  DetailPrint "icacls Morvane.ini: $0"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${HOMEPAGE}"
!ifdef HAVE_LOADER
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\loader.exe",0'
!else
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\uninstall.exe",0'
!endif
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The adapter's WinUSB binding and the register driver into the driver store, installed on
; present devices. A 64-bit Windows refuses an unsigned kernel driver outside test-signing
; mode (docs/windows.md); the programs are installed either way.
Section "Treiber"
  DetailPrint "$(InstallingDrivers)"
  nsExec::ExecToLog '"$SYSDIR\pnputil.exe" /add-driver "$INSTDIR\Treiber\*.inf" /install'
  Pop $0
  DetailPrint "pnputil: $0"
SectionEnd

; The size Apps & Features shows, in KiB, of what the setup put into the folder.
Section "-Size"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\loader.exe"
  Delete "$INSTDIR\loader-cli.exe"
  Delete "$INSTDIR\cibridge.dll"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Treiber\x86\cicard.sys"
  Delete "$INSTDIR\Treiber\x64\cicard.sys"
  RMDir "$INSTDIR\Treiber\x86"
  RMDir "$INSTDIR\Treiber\x64"
  Delete "$INSTDIR\Treiber\morvane-ci-adapter.inf"
  Delete "$INSTDIR\Treiber\cicard.inf"
  RMDir "$INSTDIR\Treiber"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${START_MENU}\${PRODUCT}.lnk"
  ; The entry's name is in the language the setup spoke, which may not be the uninstaller's.
  Delete "${START_MENU}\${PRODUCT} entfernen.lnk"
  Delete "${START_MENU}\Remove ${PRODUCT}.lnk"
  RMDir "${START_MENU}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
