#!/usr/bin/env bash
# check_dll_image.sh PELLMORE.DLL OBJDUMP
# The built module: a DLL of the architecture OBJDUMP stands for (its
# headers: PE32 i386 for i686, PE32+ x86-64 for x86-64; LLVM's
# llvm-objdump-N, with llvm-readobj-N beside it, for PE32+ ARM64) that, as
# objdump -p shows it, is named PELLMORE.DLL, imports system DLLs only,
# exports exactly the four entry points with their ordinals, and carries the
# page's dialog, its strings, the version resource and the manifest.
set -uo pipefail
dll="$1"
objdump="${2:-i686-w64-mingw32-objdump}"
dump="$("$objdump" -p "$dll")" || { echo "objdump failed on $dll"; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

llvm=0
case "$(basename "$objdump")" in
  x86_64-*) want="PE32+ x86-64 DLL" ;;
  llvm-objdump*)
    want="PE32+ ARM64 DLL"
    llvm=1
    readobj="${objdump/objdump/readobj}"
    ;;
  *) want="PE32 i386 DLL" ;;
esac
kind="$(pe_kind "$dll")"
[ "$kind" = "$want" ] || fail "the image is a $kind, not a $want"

# Imports: the system's own DLLs, nothing of the toolchain's runtime.
system_dlls=" advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll "
imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)"
[ -n "$imports" ] || fail "no import table found"
for name in $imports; do
  [[ "$system_dlls" == *" $name "* ]] || fail "imports $name, which is no system DLL"
done

# Exports: the module name, ordinal base 1, four functions, each at its ordinal.
if [ "$llvm" = 1 ]; then
  export_table="$(sed -n '/^Export Table:/,/^$/p' <<<"$dump")"
  grep -qE '^[[:space:]]*DLL name: PELLMORE\.DLL$' <<<"$export_table" || fail "export name is not PELLMORE.DLL"
  grep -qE '^[[:space:]]*Ordinal base: 1$' <<<"$export_table" || fail "ordinal base is not 1"
  # Rows "ordinal RVA [name]": an export without a name is a row of two.
  exports="$(awk '$1 ~ /^[0-9]+$/ { print $3 " @" $1 }' <<<"$export_table" | sort)"
  count="$(awk '$1 ~ /^[0-9]+$/' <<<"$export_table" | wc -l)"
else
  grep -qE '^Name[[:space:]]+[0-9a-f]+ PELLMORE\.DLL$' <<<"$dump" || fail "export name is not PELLMORE.DLL"
  grep -qE '^Ordinal Base[[:space:]]+1$' <<<"$dump" || fail "ordinal base is not 1"
  exports="$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\2 \1/p' |
    awk '{ print $1 " @" $2 + 1 }' | sort)"
  count="$(sed -n '/^Export Address Table -- Ordinal Base/,/^\[Ordinal/p' <<<"$dump" | grep -c 'Export RVA')"
fi
expected="$(printf '%s\n' 'DllCanUnloadNow @3' 'DllGetClassObject @4' 'DllRegisterServer @2' \
  'DllUnregisterServer @1' | sort)"
[ "$exports" = "$expected" ] || fail "exports are
$exports
expected
$expected"
[ "$count" = 4 ] || fail "the export address table has $count entries, expected 4"

# Resources as type/name pairs: the level is told by the indentation, or
# for LLVM, which objdump -p shows no resources of, by readobj's keywords.
if [ "$llvm" = 1 ]; then
  resources="$("$readobj" --coff-resources "$dll" |
    sed -n 's/^[[:space:]]*\(Type\|Name\): .*(ID \([0-9]*\)) \[$/\1 \2/p' |
    while read -r level id; do
      case "$level" in
        Type) type=$id ;;
        Name) echo "$type/$id" ;;
      esac
    done | sort -u)"
else
  resources="$(sed -n '/^The .rsrc Resource Directory section:/,/Resources start/p' <<<"$dump" |
    sed -n 's/^[0-9a-f]*\( *\)Entry: ID: 0x\([0-9a-f]*\),.*/\1x\2/p' |
    while IFS=x read -r indent id; do
      case "${#indent}" in
        3) type=$((16#$id)) ;;
        5) echo "$type/$((16#$id))" ;;
      esac
    done | sort -u)"
fi
for want in 5/100 6/7 6/4091 16/1 24/1; do
  grep -qx "$want" <<<"$resources" || fail "resource $want missing (type/name: dialog 5, string block 6, version 16, manifest 24)"
done

[ "$status" = 0 ] && echo "PELLMORE.DLL image: imports, exports and resources as expected"
exit "$status"
