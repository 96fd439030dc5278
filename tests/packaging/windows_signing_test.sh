#!/usr/bin/env bash
# Signing with a throwaway key: a certificate made here with openssl, the x86_64 setup made
# with it (make_installer.cmake with the key in the environment, as scripts/package does), each
# signed file checked with osslsigncode verify against that certificate, then the signed setup
# installed under Wine in a prefix of its own, its installed files still signed, loader-cli.exe
# run, and uninstalled.
#   windows_signing_test.sh <scratch dir> <make_installer.cmake> <its arguments...>
# Exit status 77 (skipped) when a tool or the Windows build is missing.
set -euo pipefail
work=$1
script=$2
shift 2
source "$(dirname "$0")/../../sim/windows/wine-env"
for tool in openssl osslsigncode; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/bootstrap installs it)"
    exit 77
  fi
done
if [[ -z $WINE || -z $WINESERVER ]]; then
  echo "skipped: Wine is not installed"
  exit 77
fi

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Morvane Loader test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/key.p12" \
  -passout pass:throwaway
setup=$work/setup-x86_64.exe
status=0
MORVANE_SIGN_PKCS12=$work/key.p12 MORVANE_SIGN_PASSWORD=throwaway \
  cmake "$@" -DOUTFILE="$setup" -DRECORD="$work/inputs" -DSTAGE_DIR="$work/stage" \
  -DDEBUG_DIR="$work/debug" -P "$script" >"$work/make.log" 2>&1 || status=$?
if [[ $status -ne 0 ]]; then
  if grep -q "build the Windows programs first" "$work/make.log"; then
    echo "skipped: the Windows programs are not built"
    exit 77
  fi
  cat "$work/make.log"
  fail "making the signed setup"
fi

verify() {
  local result
  result=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1) || {
    echo "$result"
    fail "$1 does not verify"
  }
  [[ $result == *"Signature verification: ok"* ]] || {
    echo "$result"
    fail "$1: no good signature"
  }
  echo "$(basename "$1"): $(grep -m1 "Signature verification" <<<"$result")"
}
for file in "$work"/stage/*.exe "$work"/stage/*.dll "$setup"; do
  verify "$file"
done

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/morvane-signed.XXXXXX")
export WINEPREFIX WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
trap '"$WINESERVER" -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
"$WINE" "$setup" /S '/D=C:\Morvane' >"$work/setup.log" 2>&1 || fail "the signed setup failed"
"$WINESERVER" -w
installed=$WINEPREFIX/drive_c/Morvane
for file in "$work"/stage/*.exe "$work"/stage/*.dll; do
  cmp "$file" "$installed/$(basename "$file")" || fail "$(basename "$file") was not installed as signed"
done
verify "$installed/uninstall.exe"
status=0
"$WINE" 'C:\Morvane\loader-cli.exe' </dev/null >"$work/loader-cli.log" 2>&1 || status=$?
[[ $status -eq 1 ]] && grep -q "Gerät nicht vorhanden" "$work/loader-cli.log" ||
  fail "the signed loader-cli.exe ended with $status: $(cat "$work/loader-cli.log")"
"$WINE" 'C:\Morvane\uninstall.exe' /S >"$work/uninstall.log" 2>&1 || fail "the uninstall failed"
"$WINESERVER" -w
[[ ! -e $installed ]] || fail "files are left after the uninstall"
echo "signed setup installed, run and removed under Wine"
