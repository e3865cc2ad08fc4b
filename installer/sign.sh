#!/usr/bin/env bash
# installer/sign.sh FILE...
# Signs each Windows program or module in place (Authenticode, SHA-256) with
# the certificate TOLVANE_SIGN_CERT and the private key TOLVANE_SIGN_KEY
# (PEM or DER files).
set -euo pipefail
: "${TOLVANE_SIGN_CERT:?names no certificate}" "${TOLVANE_SIGN_KEY:?names no key}"
for file in "$@"; do
  signed="$file.signed"
  rm -f "$signed"
  osslsigncode sign -certs "$TOLVANE_SIGN_CERT" -key "$TOLVANE_SIGN_KEY" -h sha256 \
    -n Tolvane -in "$file" -out "$signed" >/dev/null || {
    rm -f "$signed"
    echo "sign: osslsigncode could not sign $file" >&2
    exit 1
  }
  mv "$signed" "$file"
done
