#!/usr/bin/env bash
# Signs what the release signs, as it does (release/sign.sh, and cpack for the setup in the
# archive), with a throw-away certificate: each signature verifies against that certificate,
# removing it gives back the unsigned file, and attaching it to the unsigned file gives back the
# signed one. Without a certificate nothing is signed.
#   check-signing.sh SIGN_SH EXE MSI CPACK_CONFIG VERSION CPACK CMAKE
set -euo pipefail
sign=$1 exe=$2 msi=$3 config=$4 version=$5 cpack=$6 cmake=$7

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$exe" vornsetup.exe
cp "$msi" package.msi
unset VORN_SIGN_PKCS12 VORN_SIGN_PASSWORD_FILE VORN_SIGN_TIMESTAMP_URL
bash "$sign" vornsetup.exe package.msi >/dev/null
cmp -s vornsetup.exe "$exe" && cmp -s package.msi "$msi" || fail "signed without a certificate"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=VORN throw-away test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
printf 'throw-away\n' >password
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.p12 -passout file:password
export VORN_SIGN_PKCS12=$work/signer.p12 VORN_SIGN_PASSWORD_FILE=$work/password

expect_signed() {  # file
  local report
  report=$(osslsigncode verify -CAfile cert.pem -in "$1") || fail "$1 does not verify: $report"
  grep -q 'Message digest algorithm *: SHA256' <<<"$report" || fail "$1 is not signed with SHA-256"
}

bash "$sign" vornsetup.exe package.msi >/dev/null
for file in vornsetup.exe package.msi; do
  expect_signed "$file"
  osslsigncode remove-signature -in "$file" -out "unsigned-$file" >/dev/null
done
cmp -s unsigned-vornsetup.exe "$exe" || fail "vornsetup.exe without its signature is not $exe"
# osslsigncode writes the compound file anew, in its own order: the tables and streams, the
# package's whole content, must come back, not the bytes.
mkdir dump-unsigned dump-built
msidump --tables --streams --directory dump-unsigned unsigned-package.msi >/dev/null
msidump --tables --streams --directory dump-built "$msi" >/dev/null
diff -r dump-unsigned dump-built >&2 ||
  fail "the package without its signature is not $msi"

# Someone holding the signed release and their own build of the same commit: the release's
# signature attached to their unsigned file gives the release's file back, byte for byte.
for file in vornsetup.exe package.msi; do
  osslsigncode extract-signature -in "$file" -out "$file.signature" >/dev/null
done
osslsigncode attach-signature -sigin vornsetup.exe.signature -CAfile cert.pem -in "$exe" \
  -out attached.exe >/dev/null
osslsigncode attach-signature -sigin package.msi.signature -CAfile cert.pem -in "$msi" \
  -out attached.msi >/dev/null
cmp -s attached.exe vornsetup.exe || fail "the signature attached to $exe is not the signed setup"
cmp -s attached.msi package.msi || fail "the signature attached to $msi is not the signed package"

# The archive the release makes holds the setup and the remover signed.
"$cpack" --config "$config" -B "$work/cpack" >/dev/null
mkdir unpacked
(cd unpacked && "$cmake" -E tar xf "$work/cpack/vornsetup-$version-win32.zip")
expect_signed unpacked/vornsetup.exe
expect_signed unpacked/vornremove.exe
echo "signed and verified: vornsetup.exe, $(basename "$msi"), the archive's vornsetup.exe and vornremove.exe"
