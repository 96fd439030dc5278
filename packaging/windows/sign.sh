#!/usr/bin/env bash
# Signs Windows files (Authenticode, SHA-256) in place with osslsigncode, with the releaser's
# key from the environment:
#   MORVANE_SIGN_PKCS12           a PKCS#12 file with the certificate and its key, or
#   MORVANE_SIGN_PKCS11_MODULE    a PKCS#11 module, with MORVANE_SIGN_PKCS11_KEY (the key's
#                                 PKCS#11 URI or ID) and MORVANE_SIGN_CERTS (the certificate
#                                 chain, PEM or DER); MORVANE_SIGN_PKCS11_ENGINE names the
#                                 OpenSSL engine when it is not found by itself
#   MORVANE_SIGN_PASSWORD         the PKCS#12 file's password or the token's PIN (read by
#                                 osslsigncode from its input, never put on a command line)
#   MORVANE_SIGN_TIMESTAMP_URL    an RFC 3161 time-stamp server (optional)
#   MORVANE_SIGN_URL              the address the signature names (optional)
#   sign.sh FILE...
# Exit status 0 when every file is signed; without a key it signs nothing and fails.
set -euo pipefail
if [[ -n ${MORVANE_SIGN_PKCS12:-} ]]; then
  key=(-pkcs12 "$MORVANE_SIGN_PKCS12")
elif [[ -n ${MORVANE_SIGN_PKCS11_MODULE:-} ]]; then
  key=(-pkcs11module "$MORVANE_SIGN_PKCS11_MODULE" -certs "${MORVANE_SIGN_CERTS:?}"
       -key "${MORVANE_SIGN_PKCS11_KEY:?}")
  [[ -z ${MORVANE_SIGN_PKCS11_ENGINE:-} ]] || key+=(-pkcs11engine "$MORVANE_SIGN_PKCS11_ENGINE")
else
  echo "sign.sh: no key (MORVANE_SIGN_PKCS12 or MORVANE_SIGN_PKCS11_MODULE)" >&2
  exit 1
fi
options=(-h sha256 -n "Morvane Loader")
[[ -z ${MORVANE_SIGN_URL:-} ]] || options+=(-i "$MORVANE_SIGN_URL")
[[ -z ${MORVANE_SIGN_TIMESTAMP_URL:-} ]] || options+=(-ts "$MORVANE_SIGN_TIMESTAMP_URL")
for file in "$@"; do
  rm -f "$file.signed"
  printf '%s' "${MORVANE_SIGN_PASSWORD:-}" |
    osslsigncode sign "${key[@]}" -readpass - "${options[@]}" -in "$file" -out "$file.signed" \
      >/dev/null
  mv "$file.signed" "$file"
done
