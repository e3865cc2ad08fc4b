#!/usr/bin/env bash
# check_dll_image.sh PELLMORE.DLL ARCH
# The built module of ARCH (i686, x86_64 or aarch64): a DLL of that
# architecture that, as LLVM's objdump and readobj show it, is named
# PELLMORE.DLL, imports exactly functions that module_imports.txt allows it
# (system DLLs only, nothing newer than the Windows it names), exports exactly
# the four entry points with their ordinals, and carries the page's dialog,
# its strings, the version resource and the manifest.
set -uo pipefail
dll="$1"
arch="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../lib.sh"
image_dump "$dll" "$arch"

# Imports as "dll function" lines, against the list for this architecture.
imports="$(imports_of "$dump")"
[ -n "$imports" ] || fail "no import table found"
allowed="$(sed 's/#.*//' "$here/module_imports.txt" | awk -v arch="$arch" '
  NF == 2 { print $1 " " $2 }
  NF > 2 { for (i = 3; i <= NF; ++i) if ($i == arch) print $1 " " $2 }' | LC_ALL=C sort -u)"
unexpected="$(LC_ALL=C comm -23 <(echo "$imports") <(echo "$allowed"))"
[ -z "$unexpected" ] || fail "imports what module_imports.txt does not allow on $arch:
$unexpected"

# Exports: the module name, ordinal base 1, four functions, each at its ordinal.
export_table="$(sed -n '/^Export Table:/,/^$/p' <<<"$dump")"
grep -qE '^[[:space:]]*DLL name: PELLMORE\.DLL$' <<<"$export_table" || fail "export name is not PELLMORE.DLL"
grep -qE '^[[:space:]]*Ordinal base: 1$' <<<"$export_table" || fail "ordinal base is not 1"
# Rows "ordinal RVA [name]": an export without a name is a row of two.
exports="$(awk '$1 ~ /^[0-9]+$/ { print $3 " @" $1 }' <<<"$export_table" | sort)"
count="$(awk '$1 ~ /^[0-9]+$/' <<<"$export_table" | wc -l)"
expected="$(printf '%s\n' 'DllCanUnloadNow @3' 'DllGetClassObject @4' 'DllRegisterServer @2' \
  'DllUnregisterServer @1' | sort)"
[ "$exports" = "$expected" ] || fail "exports are
$exports
expected
$expected"
[ "$count" = 4 ] || fail "the export address table has $count entries, expected 4"

# Resources as type/name pairs.
resources="$("llvm-readobj-$llvm" --coff-resources "$dll" |
  sed -n 's/^[[:space:]]*\(Type\|Name\): .*(ID \([0-9]*\)) \[$/\1 \2/p' |
  while read -r level id; do
    case "$level" in
      Type) type=$id ;;
      Name) echo "$type/$id" ;;
    esac
  done | sort -u)"
for want in 5/100 6/7 6/4091 16/1 24/1; do
  grep -qx "$want" <<<"$resources" || fail "resource $want missing (type/name: dialog 5, string block 6, version 16, manifest 24)"
done

[ "$status" = 0 ] && echo "PELLMORE.DLL image: imports, exports and resources as expected"
exit "$status"
