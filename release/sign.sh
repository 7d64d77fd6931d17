#!/usr/bin/env bash
# Signs release files in place with the vendor's certificate (Authenticode, SHA-256) when the
# environment names one, and leaves them as they are when it does not.
#   release/sign.sh FILE...
#   VORN_SIGN_PKCS12          the certificate with its private key, a PKCS#12 file
#   VORN_SIGN_PASSWORD_FILE   a file holding that file's password
#   VORN_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamp server; without it, no time stamp
set -euo pipefail
[ -n "${VORN_SIGN_PKCS12:-}" ] || exit 0

options=(-pkcs12 "$VORN_SIGN_PKCS12" -h sha256)
[ -z "${VORN_SIGN_PASSWORD_FILE:-}" ] || options+=(-readpass "$VORN_SIGN_PASSWORD_FILE")
[ -z "${VORN_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$VORN_SIGN_TIMESTAMP_URL")
for file in "$@"; do
  signed=$file.signing
  trap 'rm -f "$signed"' EXIT
  osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >/dev/null ||
    { echo "sign.sh: could not sign $file" >&2; exit 1; }
  mv "$signed" "$file"
  echo "signed: $file"
done
