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

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

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

!define PRODUCT "Morvane Loader"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MorvaneLoader"
!define START_MENU "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FILES}\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Function .onInit
  SetShellVarContext all
!if "${ARCH}" == "i686"
  ; A 32-bit Windows only: a 64-bit one loads no x86 kernel driver.
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "Dieses Setup ist für 32-Bit-Windows. Bitte verwenden Sie das x64-Setup." /SD IDOK
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
  CreateShortcut "${START_MENU}\${PRODUCT} entfernen.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Morvane"
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
  DetailPrint "Treiber werden installiert..."
  nsExec::ExecToLog '"$SYSDIR\pnputil.exe" /add-driver "$INSTDIR\Treiber\*.inf" /install'
  Pop $0
  DetailPrint "pnputil: $0"
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\loader.exe"
  Delete "$INSTDIR\loader-cli.exe"
  Delete "$INSTDIR\cibridge.dll"
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
  Delete "${START_MENU}\${PRODUCT} entfernen.lnk"
  RMDir "${START_MENU}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
