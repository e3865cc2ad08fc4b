#!/usr/bin/env bash
# signing.sh WORK_DIR
# Signs a release with a throwaway self-signed certificate: scripts/release
# with TOLVANE_SIGN_CERT and TOLVANE_SIGN_KEY, into WORK_DIR/dist (the build
# trees of the release presets are reused), then osslsigncode verify finds a
# valid signature by that certificate on each module, the setup program and
# the three Windows Installer packages, and none on the unsigned modules they
# were made from; each signed package is another product than the unsigned
# one of the release in dist/ (its content differs: its custom actions are
# signed).
set -uo pipefail
if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: signing.sh WORK_DIR" >&2
  exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(realpath -m "$1")"
source "$root/tests/lib.sh"

rm -rf "$work"
mkdir -p "$work"
subject="Tolvane test signing $$"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$subject" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" || {
  cat "$work/openssl.log"
  echo "FAIL: openssl could not make a certificate"
  exit 1
}

TOLVANE_SIGN_CERT="$work/cert.pem" TOLVANE_SIGN_KEY="$work/key.pem" TOLVANE_DIST="$work/dist" \
  "$root/scripts/release" >"$work/release.log" 2>&1 || {
  cat "$work/release.log"
  echo "FAIL: the signed release failed"
  exit 1
}
setup="$(cd "$work/dist" && ls tolvane-*-setup.exe)"

# signed FILE: osslsigncode trusts the signature with the certificate as the
# only authority, and names our subject as the signer.
signed() {
  local out
  out="$(osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1)" || return 1
  grep -q "Subject: /CN=$subject\$" <<<"$out" && grep -qx 'Signature verification: ok' <<<"$out"
}

for file in x64/PELLMORE.DLL x86/PELLMORE.DLL arm64/PELLMORE.DLL "$setup" \
            "${setup%-setup.exe}"-{x86,x64,arm64}.msi; do
  if signed "$work/dist/$file"; then
    echo "signed: $file"
  else
    fail "no valid signature by '$subject' on $file"
  fi
done

for arch in x86 x64 arm64; do
  code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
  package="${setup%-setup.exe}-$arch.msi"
  [ "$(code "$work/dist/$package")" != "$(code "$root/dist/$package")" ] ||
    fail "the signed and the unsigned $package have one product code"
done

# The same check says no to what carries no signature.
unsigned="$work/unsigned.dll"
cp "$root/build/win64-release/extension/PELLMORE.DLL" "$unsigned"
! signed "$unsigned" || fail "an unsigned module passes as signed"

# Signing adds a signature and nothing else: without it the module is the
# unsigned one, but for the PE checksum, which signing may set.
osslsigncode remove-signature -in "$work/dist/x64/PELLMORE.DLL" -out "$work/stripped.dll" >/dev/null 2>&1 ||
  fail "osslsigncode could not remove the signature"
checksum_at=$(($(pe_offset "$unsigned") + 24 + 64 + 1)) # cmp counts bytes from 1
differences="$(cmp -l "$work/stripped.dll" "$unsigned" 2>&1 |
  awk -v first="$checksum_at" '$1 !~ /^[0-9]+$/ || $1 < first || $1 > first + 3')"
[ -z "$differences" ] || fail "the signed x64 module differs from the built one beyond its signature:
$(head -5 <<<"$differences")"

[ "$status" = 0 ] && echo "signing: all checks passed"
exit "$status"
