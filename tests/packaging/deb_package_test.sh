#!/usr/bin/env bash
# The Debian package as a user gets it: cpack makes it from the build tree, dpkg-deb unpacks it
# into a scratch root, and the programs start from there, finding what they need beside
# themselves; the desktop entry and the AppStream metainfo pass their validators, and lintian
# finds nothing that the package does not override with its reason.
#   deb_package_test.sh <build dir> <scratch dir>
# Exit status 77 (skipped) when a tool is missing.
set -euo pipefail
build=$1
work=$2

for tool in cpack dpkg-deb desktop-file-validate appstreamcli lintian timeout; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/bootstrap installs it)"
    exit 77
  fi
done

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -G DEB -B "$work/cpack" -D "CPACK_OUTPUT_FILE_PREFIX=$work/out" >"$work/cpack.log") || {
  cat "$work/cpack.log"
  fail "cpack -G DEB"
}
debs=("$work"/out/morvane-loader_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one package, found: ${debs[*]}"
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root"

# Every file where the system looks for it.
app=org.morvane.loader
for file in \
  usr/lib/morvane-loader/loader usr/lib/morvane-loader/loader-cli \
  usr/lib/morvane-loader/libcibridge.so usr/lib/udev/rules.d/70-morvane-ci-adapter.rules \
  usr/share/applications/$app.desktop usr/share/icons/hicolor/scalable/apps/$app.svg \
  usr/share/metainfo/$app.metainfo.xml usr/share/man/man1/loader.1.gz \
  usr/share/man/man1/loader-cli.1.gz usr/share/doc/morvane-loader/copyright \
  usr/share/doc/morvane-loader/changelog.gz; do
  [[ -f $root/$file ]] || fail "$file is not in the package"
done
for program in loader loader-cli; do
  [[ $(readlink "$root/usr/bin/$program") == ../lib/morvane-loader/$program ]] ||
    fail "usr/bin/$program does not lead to the program's folder"
done
cmp "$root/usr/lib/udev/rules.d/70-morvane-ci-adapter.rules" \
  "$build/generated/adapter/70-morvane-ci-adapter.rules" || fail "the udev rule is not the build's"
manual=$(zcat "$root/usr/share/man/man1/loader-cli.1.gz")
[[ $manual == *'.B \-\-json'* ]] || fail "the manual page does not describe --json"
# Each manual page leads to the other.
[[ $manual == *'.BR loader (1)'* ]] || fail "loader-cli(1) does not name loader(1)"
[[ $(zcat "$root/usr/share/man/man1/loader.1.gz") == *'.BR loader\-cli (1)'* ]] ||
  fail "loader(1) does not name loader-cli(1)"

# Debian's checks, pedantic ones included: every tag the package does not override is a
# failure (the overrides say why, usr/share/lintian/overrides).
lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$deb" \
  >"$work/lintian.log" 2>&1 || {
  cat "$work/lintian.log"
  fail "lintian"
}

# The dependencies by their Debian names: the linked libraries and Qt's platform plugins.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libstdc++6 libusb-1.0-0 libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
  [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] ||
    fail "Depends lacks $package: $depends"
done

desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop-file-validate"
grep -qx "Icon=$app" "$root/usr/share/applications/$app.desktop" ||
  fail "the desktop entry does not name the package's icon"
# The metainfo, with the desktop entry and the icon it leads to.
appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" || {
  cat "$work/appstream.log"
  fail "appstreamcli validate-tree"
}
# The metainfo alone, pedantic hints too: any remark fails.
appstreamcli validate --pedantic --no-net "$root/usr/share/metainfo/$app.metainfo.xml" \
  >"$work/appstream-pedantic.log" 2>&1 || true
! grep -q '^[EWIP]: ' "$work/appstream-pedantic.log" || {
  cat "$work/appstream-pedantic.log"
  fail "appstreamcli validate --pedantic"
}

# The programs run from the unpacked tree.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
version=$("$root/usr/bin/loader-cli" --version) || fail "loader-cli --version"
[[ $version == "loader-cli "* ]] || fail "loader-cli --version printed: $version"
# With no adapter and the register driver chosen (the settings' default), an update loads the
# adapter library from the program's folder, finds no adapter and ends with the missing
# device's message (status 1), here as JSON lines; no port is touched.
status=0
LD_DEBUG=files "$root/usr/bin/loader-cli" --json </dev/null >"$work/loader-cli.log" \
  2>"$work/ld.log" || status=$?
grep -q '"type":"message","title":"Fehler","text":"Gerät nicht vorhanden oder nicht bereit' \
  "$work/loader-cli.log" && [[ $status -eq 1 ]] &&
  [[ $(tail -n 1 "$work/loader-cli.log") == '{"type":"result","result":"not-opened","status":1}' ]] || {
  cat "$work/loader-cli.log"
  fail "loader-cli --json ended with $status without the missing device's message and result"
}
grep -q "file=$root/usr/lib/morvane-loader/libcibridge.so .*dynamically loaded" "$work/ld.log" ||
  fail "loader-cli did not load libcibridge.so from its own folder"
# The window program shows its window and waits for the user: it is still running when
# stopped (124), where a missing library or plugin would have ended it at once.
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/loader" >"$work/loader.log" 2>&1 || status=$?
[[ $status -eq 124 ]] || {
  cat "$work/loader.log"
  fail "the window program ended with $status before it was stopped"
}
echo "package $(basename "$deb") checked"
