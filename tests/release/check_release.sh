#!/usr/bin/env bash
# check_release.sh DIST
# The release modules as scripts/release leaves them: each at most its size
# limit (256 KiB for x86 and x64, 320 KiB for ARM64, whose runtime is LLVM's),
# a DLL of its own architecture that imports system DLLs only and exports the
# four entry points at ordinals 1 to 4 (check_dll_image.sh), the ARM64 one
# stripped, and SHA256SUMS naming exactly what is there.
set -uo pipefail
if [ $# -ne 1 ]; then
  echo "usage: check_release.sh DIST" >&2
  exit 2
fi
dist="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../lib.sh"

# folder:objdump:KiB
for arch in x86:i686-w64-mingw32-objdump:256 x64:x86_64-w64-mingw32-objdump:256 \
    arm64:llvm-objdump-16:320; do
  IFS=: read -r folder objdump kib <<<"$arch"
  dll="$dist/$folder/PELLMORE.DLL"
  [ -f "$dll" ] || { fail "$dll is missing"; continue; }
  size="$(stat -c %s "$dll")"
  limit=$((kib * 1024))
  echo "$folder/PELLMORE.DLL: $size bytes"
  [ "$size" -le "$limit" ] || fail "$folder/PELLMORE.DLL is $size bytes, more than $limit"
  bash "$here/../registration/check_dll_image.sh" "$dll" "$objdump" ||
    fail "$folder/PELLMORE.DLL is not the module it should be"
done

# Stripped: no COFF symbol table and no debug sections. The GNU builds are
# stripped by the same link option; LLVM's readobj reads the ARM64 one.
arm64_dll="$dist/arm64/PELLMORE.DLL"
if [ -f "$arm64_dll" ]; then
  headers="$(llvm-readobj-16 --file-headers --sections "$arm64_dll")"
  grep -qE '^[[:space:]]*SymbolCount: 0$' <<<"$headers" &&
    grep -qE '^[[:space:]]*PointerToSymbolTable: 0x0$' <<<"$headers" ||
    fail "arm64/PELLMORE.DLL has a symbol table"
  ! grep -qE '^[[:space:]]*Name: \.debug' <<<"$headers" || fail "arm64/PELLMORE.DLL has debug sections"
fi

(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match $dist"
[ "$(wc -l <"$dist/SHA256SUMS")" = 4 ] || fail "SHA256SUMS does not name the four files"

[ "$status" = 0 ] && echo "release: sizes, images and checksums as expected"
exit "$status"
