#!/bin/sh
# The window program under Wine and Xvfb: loader_window_driver.exe starts loader.exe, works its
# windows like a user and saves their pictures.
#
#   loader_window_wine.sh WINDOWS-TREE SCREENSHOT-FOLDER
#
# Exits 77 (skipped, with the reason on the output) when Wine, Xvfb or the x86_64 Windows tree
# is missing.
set -u
tree=$1
shots=$2
skip() { echo "SKIPPED: $*"; exit 77; }

wine=$(command -v wine64 || true)
[ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
[ -n "$wine" ] || skip "Wine (wine64) is not installed"
command -v xvfb-run >/dev/null || skip "xvfb-run (package xvfb) is not installed"
for file in bin/loader.exe loader-window-test/loader_window_driver.exe loader-window-test/cibridge.dll; do
  [ -f "$tree/$file" ] || skip "no x86_64 Windows tree with $file at $tree"
done

prefix=$(mktemp -d /tmp/morvane-window-wine.XXXXXX)
trap 'WINEPREFIX=$prefix "$(dirname "$wine")/wineserver" -k 2>/dev/null; rm -rf "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$shots"
work=$(WINEPREFIX="$prefix" "$wine" winepath -w "$prefix/drive_c/loader" 2>/dev/null | tr -d '\r')
[ -n "$work" ] || work='C:\loader'
xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$tree/loader-window-test/loader_window_driver.exe" \
  "$(winepath_of() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }; winepath_of "$tree/bin/loader.exe")" \
  "$("$wine" winepath -w "$tree/loader-window-test/cibridge.dll" 2>/dev/null | tr -d '\r')" \
  "$work" \
  "$("$wine" winepath -w "$shots" 2>/dev/null | tr -d '\r')"
