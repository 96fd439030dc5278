#!/usr/bin/env bash
# The x86_64 setup under Wine, as a service station would run it: a silent install into a
# folder of a fresh Wine prefix, the installed loader-cli.exe run to its message that no device
# is there, then the silent uninstall, after which the files and the Start-menu entry are gone.
# The prefix is the test's own, in a temporary folder: the setup changes the registry and the
# Start menu, which the other Wine tests' shared prefix should not see.
#   windows_installer_test.sh <setup.exe> <scratch dir> [<deliverables.txt>]
# deliverables.txt, the Windows tree's list of the programs it made, names what the setup must
# install besides the drivers (loader.exe among them once the tree makes it).
# Exit status 77 (skipped) when Wine or the setup is missing.
set -euo pipefail
setup=$1
work=$2
deliverables=${3:-}
source "$(dirname "$0")/../../sim/windows/wine-env"
if [[ -z $WINE || -z $WINESERVER ]]; then
  echo "skipped: Wine is not installed"
  exit 77
fi
if [[ ! -f $setup ]]; then
  echo "skipped: $setup is not built (makensis and the Windows programs are needed: scripts/package)"
  exit 77
fi

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/morvane-setup.XXXXXX")
export WINEPREFIX WINEARCH=win64
# No Mono or Gecko set-up dialogs in a fresh prefix; no display needed.
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
trap '"$WINESERVER" -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT

# A folder without blanks: Wine quotes an argument with blanks, and the setup takes /D= only
# unquoted.
folder='C:\Morvane'
installed=$WINEPREFIX/drive_c/Morvane
start_menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Morvane\ Loader

"$WINE" "$setup" /S "/D=$folder" >"$work/setup.log" 2>&1 || fail "the silent setup failed"
"$WINESERVER" -w
for file in loader-cli.exe cibridge.dll uninstall.exe Treiber/morvane-ci-adapter.inf \
  Treiber/cicard.inf Treiber/x64/cicard.sys; do
  [[ -f $installed/$file ]] || fail "$file was not installed"
done
if [[ -n $deliverables && -f $deliverables ]]; then
  while read -r program; do
    [[ -z $program || -f $installed/$(basename "$program") ]] ||
      fail "$(basename "$program") of the Windows build was not installed"
  done <"$deliverables"
fi
[[ -f "$start_menu/Morvane Loader.lnk" ]] || fail "no Start-menu entry"
# The settings file the programs save on close, made by the setup (docs/windows.md).
[[ -f $WINEPREFIX/drive_c/windows/Morvane.ini ]] || fail "the setup did not make Morvane.ini"
# The uninstall entry, as Apps & Features reads it.
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MorvaneLoader'
entry=$("$WINE" reg query "$key" 2>/dev/null | tr -d '\r')
for value in EstimatedSize DisplayIcon URLInfoAbout InstallLocation; do
  grep -q "^ *$value " <<<"$entry" || fail "the uninstall entry has no $value: $entry"
done
[[ $(grep "^ *EstimatedSize " <<<"$entry") != *" 0x0" ]] || fail "EstimatedSize is 0"
# A second installation without a folder goes where the first went.
rm "$installed/loader-cli.exe"
"$WINE" "$setup" /S >"$work/setup-again.log" 2>&1 || fail "the second silent setup failed"
"$WINESERVER" -w
[[ -f $installed/loader-cli.exe ]] || fail "the second installation did not go into the first's folder"
[[ ! -e "$WINEPREFIX/drive_c/Program Files/Morvane Loader" ]] ||
  fail "the second installation made a second copy in Program Files"

# No adapter, no driver: loader-cli ends with the message of the missing device (status 1).
status=0
"$WINE" "$folder\\loader-cli.exe" </dev/null >"$work/loader-cli.log" 2>&1 || status=$?
grep -q "Gerät nicht vorhanden oder nicht bereit" "$work/loader-cli.log" || {
  cat "$work/loader-cli.log"
  fail "loader-cli did not report the missing device"
}
[[ $status -eq 1 ]] || fail "loader-cli ended with $status, not 1"

"$WINE" "$folder\\uninstall.exe" /S >"$work/uninstall.log" 2>&1 || fail "the silent uninstall failed"
# The uninstaller runs on from a copy of itself: wait for every process of the prefix.
"$WINESERVER" -w
[[ ! -e $installed ]] || fail "files are left after the uninstall: $(find "$installed")"
[[ ! -e $start_menu ]] || fail "the Start-menu entry is left after the uninstall"
echo "setup, loader-cli.exe and uninstall checked under Wine"
