#!/usr/bin/env bash
# check_checks_image.sh TOLVANE_CHECKS.DLL ARCH
# The release build of the installers' checks for ARCH (i686, x86_64 or
# aarch64), as LLVM's objdump shows it: a DLL of that architecture named
# TOLVANE_CHECKS.DLL that imports from system DLLs alone, nothing that shows
# a window (setup may run where no one sees it: of shell32 only the call
# that tells the shell associations changed), and exports by plain name
# exactly what installer/checks/tolvane_checks.def lists.
set -uo pipefail
dll="$1"
arch="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../lib.sh"
image_dump "$dll" "$arch"

imports="$(imports_of "$dump")"
[ -n "$imports" ] || fail "no import table found"
others="$(grep -vE '^((kernel32|advapi32|msi|ole32|msvcrt)\.dll |shell32\.dll SHChangeNotify$)' <<<"$imports")"
[ -z "$others" ] || fail "imports from other DLLs than kernel32, advapi32, msi, ole32, msvcrt and shell32's SHChangeNotify:
$others"

export_table="$(sed -n '/^Export Table:/,/^$/p' <<<"$dump")"
grep -qE '^[[:space:]]*DLL name: TOLVANE_CHECKS\.DLL$' <<<"$export_table" ||
  fail "export name is not TOLVANE_CHECKS.DLL"
exports="$(awk '$1 ~ /^[0-9]+$/ { print $3 }' <<<"$export_table" | LC_ALL=C sort)"
expected="$(sed -n '/^EXPORTS/,$ { /^EXPORTS/d; s/^[[:space:]]*\([A-Za-z_]*\).*/\1/p }' \
  "$here/../../installer/checks/tolvane_checks.def" | LC_ALL=C sort)"
[ "$exports" = "$expected" ] || fail "exports are
$exports
expected
$expected"

[ "$status" = 0 ] && echo "TOLVANE_CHECKS.DLL image: imports and exports as expected"
exit "$status"
