#!/usr/bin/env bash
# The window program under Wine and Xvfb: loader_window_driver.exe starts loader.exe, works its
# windows like a user, runs a whole update through cibridge.dll on the stand-ins of SetupAPI and
# WinUSB, and saves the windows' pictures.
#
#   loader_window_wine.sh WINDOWS-TREE SCREENSHOT-FOLDER
#
# Runs in the test run's Wine prefix (MORVANE_WINE_PREFIX_FILE, sim/windows/wine-prefix) with the
# stand-ins of the tree (sim/windows/wine-run --standins). With MORVANE_WINE_ARCH=i686 the tree
# is the i686 one and everything runs under the i386 root's Wine (scripts/i686-root). Exits 77
# (skipped, with the reason on the output) when Wine, Xvfb, the prefix, the i386 root or a file
# of the Windows tree is missing.
set -u
tree=$1
shots=$2
here=$(dirname "$(readlink -f "$0")")
skip() { echo "SKIPPED: $*"; exit 77; }

. "$here/../../sim/windows/wine-env"
[ -n "$WINE" ] || skip "Wine (wine64) is not installed"
command -v xvfb-run >/dev/null || skip "xvfb-run (package xvfb) is not installed"
for file in bin/loader.exe bin/cibridge.dll loader-window-test/loader_window_driver.exe \
            standins/setupapi.dll standins/winusb.dll; do
  [ -f "$tree/$file" ] || skip "no Windows tree with $file at $tree"
done
WINEPREFIX=$(cat "${MORVANE_WINE_PREFIX_FILE:-/nonexistent}" 2>/dev/null || true)
[ -n "$WINEPREFIX" ] || skip "no Wine prefix for this test run (fixture wine_prefix)"
export WINEPREFIX MORVANE_STANDINS="$tree/standins"

# Wine maps drive Z: to the root of the file system.
windows_path() { local path; path=$(readlink -f "$1"); echo "Z:${path//\//\\}"; }
mkdir -p "$shots"
loader=$(windows_path "$tree/bin/loader.exe")
library=$(windows_path "$tree/bin/cibridge.dll")
pictures=$(windows_path "$shots")
export run="$here/../../sim/windows/wine-run" driver="$tree/loader-window-test/loader_window_driver.exe"
export loader library pictures
# Wine's desktop starts first, with Wine's own SetupAPI (it uses more of it than the stand-in
# offers); then the driver runs with the stand-ins.
session='"$run" winepath -w C:/ >/dev/null 2>&1
  "$run" --standins "$driver" "$loader" "$library" "C:\loader-window" "$pictures"'
screen=(xvfb-run -a -s "-screen 0 1024x768x24")
if [ "${MORVANE_WINE_ARCH:-x86_64}" = i686 ]; then
  root_script=$here/../../scripts/i686-root
  reason=$("$root_script" reason)
  [ -z "$reason" ] || skip "no i386 Wine: $reason"
  # The root's Wine finds itself. As below, the prefix's programs start again on this display
  # and end with it, and its server then stays up again.
  export WINE=
  # The folders the prefix's server sees (the fixture's): the sources and the build.
  "${screen[@]}" "$root_script" run --bind "$here/../.." --bind "$tree/.." -- \
    bash -c 'wineserver -k; '"$session"'; status=$?; wineserver -k; wineserver -w
             wineserver -p </dev/null >/dev/null 2>&1; exit $status'
else
  # The prefix's processes (its desktop among them) started without a display: end them, so
  # that this run's desktop comes up on Xvfb, and end this run's after it, since its display
  # goes; then the prefix's server stays up again for the run's other tests (wine-prefix).
  "$WINESERVER" -k 2>/dev/null || true
  trap '"$WINESERVER" -k 2>/dev/null; "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true' EXIT
  "${screen[@]}" bash -c "$session"
fi
