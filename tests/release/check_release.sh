#!/usr/bin/env bash
# check_release.sh DIST
# The release modules as scripts/release leaves them: each at most 256 KiB, a
# DLL of its own architecture that imports system DLLs only and exports the
# four entry points at ordinals 1 to 4 (check_dll_image.sh), and SHA256SUMS
# naming exactly what is there.
set -uo pipefail
if [ $# -ne 1 ]; then
  echo "usage: check_release.sh DIST" >&2
  exit 2
fi
dist="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
status=0
fail() { echo "FAIL: $*"; status=1; }

limit=$((256 * 1024))
for arch in x86:i686 x64:x86_64; do
  folder="${arch%%:*}"
  dll="$dist/$folder/PELLMORE.DLL"
  [ -f "$dll" ] || { fail "$dll is missing"; continue; }
  size="$(stat -c %s "$dll")"
  echo "$folder/PELLMORE.DLL: $size bytes"
  [ "$size" -le "$limit" ] || fail "$folder/PELLMORE.DLL is $size bytes, more than $limit"
  bash "$here/../registration/check_dll_image.sh" "$dll" "${arch#*:}-w64-mingw32-objdump" ||
    fail "$folder/PELLMORE.DLL is not the module it should be"
done
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match $dist"
[ "$(wc -l <"$dist/SHA256SUMS")" = 3 ] || fail "SHA256SUMS does not name the three files"

[ "$status" = 0 ] && echo "release: sizes, images and checksums as expected"
exit "$status"
