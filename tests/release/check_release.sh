#!/usr/bin/env bash
# check_release.sh DIST
# The release modules as scripts/release leaves them: each at most its size
# limit (x86 120 KiB, x64 and ARM64 80 KiB), a DLL of its own architecture
# that imports only the system functions it may and exports the four entry
# points at ordinals 1 to 4 (check_dll_image.sh), stripped, and SHA256SUMS
# naming exactly what is there.
set -uo pipefail
if [ $# -ne 1 ]; then
  echo "usage: check_release.sh DIST" >&2
  exit 2
fi
dist="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../lib.sh"

# folder:architecture:KiB
for module in x86:i686:120 x64:x86_64:80 arm64:aarch64:80; do
  IFS=: read -r folder arch kib <<<"$module"
  dll="$dist/$folder/PELLMORE.DLL"
  [ -f "$dll" ] || { fail "$dll is missing"; continue; }
  size="$(stat -c %s "$dll")"
  limit=$((kib * 1024))
  echo "$folder/PELLMORE.DLL: $size bytes"
  [ "$size" -le "$limit" ] || fail "$folder/PELLMORE.DLL is $size bytes, more than $limit"
  bash "$here/../registration/check_dll_image.sh" "$dll" "$arch" ||
    fail "$folder/PELLMORE.DLL is not the module it should be"
  # Stripped: no COFF symbol table and no debug sections.
  headers="$("llvm-readobj-$llvm" --file-headers --sections "$dll")"
  grep -qE '^[[:space:]]*SymbolCount: 0$' <<<"$headers" &&
    grep -qE '^[[:space:]]*PointerToSymbolTable: 0x0$' <<<"$headers" ||
    fail "$folder/PELLMORE.DLL has a symbol table"
  ! grep -qE '^[[:space:]]*Name: \.debug' <<<"$headers" || fail "$folder/PELLMORE.DLL has debug sections"
done

(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match $dist"
[ "$(wc -l <"$dist/SHA256SUMS")" = 7 ] || fail "SHA256SUMS does not name the seven files"

[ "$status" = 0 ] && echo "release: sizes, images and checksums as expected"
exit "$status"
