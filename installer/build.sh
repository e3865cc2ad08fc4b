#!/usr/bin/env bash
# installer/build.sh --checks CHECKS_DLL [--arm64 ARM64_DLL] [--version VERSION]
#                    [--define NAME[=VALUE]]... X64_DLL X86_DLL SETUP_EXE
#   Packs the modules into the setup program with makensis; with --arm64 the
#   ARM64 one too, which Windows on ARM gets in place of the x64 one.
#   CHECKS_DLL is the x86 TOLVANE_CHECKS.DLL (installer/checks, built by the
#   win32-release preset), which setup asks before it changes anything. It
#   also builds uninstall.exe (installer/launcher) and the uninstaller
#   (installer/uninstall.nsi, installed as uninstall.bin) and packs both.
#   Version, publisher and copyright come from the modules' version resource
#   (extension/tolvane.rc), and makensis checks that every module carries that
#   version. With TOLVANE_SIGN_CERT and TOLVANE_SIGN_KEY set, uninstall.exe,
#   the uninstaller, the checks DLL and the setup program are signed.
#   For tests: --version packs modules that carry another version (a later
#   one, to try an upgrade); --define passes a define to makensis, for setup
#   and the uninstaller (see the head of installer/tolvane.nsi).
# installer/build.sh --version
#   Prints the product version alone.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

source "$root/installer/product.sh"
version="$(rc_value ProductVersion)"
publisher="$(rc_value CompanyName)"
copyright="$(rc_value LegalCopyright)"
for value in version publisher copyright; do
  [ -n "${!value}" ] || { echo "installer: no $value in extension/tolvane.rc" >&2; exit 1; }
done

if [ "${1:-}" = --version ] && [ $# = 1 ]; then
  echo "$version"
  exit 0
fi
extra=()
checks=""
while [ $# -gt 3 ]; do
  case "$1" in
    --checks) checks="$(realpath "$2")"; shift 2 ;;
    --arm64) extra+=(-DARM64_DLL="$(realpath "$2")"); shift 2 ;;
    --version) version="$2"; shift 2 ;;
    --define) extra+=(-D"$2"); shift 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 3 ] || [ -z "$checks" ]; then
  echo "usage: installer/build.sh --checks CHECKS_DLL [--arm64 ARM64_DLL] [--version VERSION] [--define NAME[=VALUE]]... X64_DLL X86_DLL SETUP_EXE | --version" >&2
  exit 2
fi
# Setup is a 32-bit program: the checks DLL must be an i386 image (machine
# 0x14c in its PE header).
pe_offset="$(od -An -tu4 -j60 -N4 "$checks" | tr -d ' ')"
if [ "$(od -An -tx2 -j"$((pe_offset + 4))" -N2 "$checks" | tr -d ' ')" != 014c ]; then
  echo "installer: $checks is not an x86 DLL" >&2
  exit 2
fi
x64="$(realpath "$1")"
x86="$(realpath "$2")"
out="$(realpath -m "$3")"

# uninstall.exe (installer/launcher) and the uninstaller, which setup packs,
# built here each time.
work_dir="$(mktemp -d)"
trap 'rm -rf "$work_dir"' EXIT
printf '#define VERSION_COMMAS %s\n#define VERSION_TEXT "%s"\n#define COPYRIGHT "%s"\n' \
  "${version//./,}" "$version" "$copyright" >"$work_dir/launcher_version.h"
# A 32-bit program, like the uninstaller it starts: the module's own i686
# toolchain (scripts/toolchain). It shares the module's rule on where a
# message box may show (comserver/message_box.cpp).
toolchain="$("$root/scripts/toolchain" --print-dir i686)/bin/i686-w64-mingw32"
"$toolchain-windres" -I "$root/installer/launcher" -I "$work_dir" \
  -O coff -o "$work_dir/resources.o" "$root/installer/launcher/uninstall_launcher.rc"
"$toolchain-clang++" -std=c++17 -Os -s -municode -mwindows -static -fno-exceptions -fno-rtti \
  -Wall -Wextra -Werror -Wl,--no-insert-timestamp -I "$root/comserver" -o "$work_dir/uninstall.exe" \
  "$root/installer/launcher/uninstall_launcher.cpp" "$root/comserver/message_box.cpp" \
  "$work_dir/resources.o" -lshell32

defines=(-DVERSION="$version" -DPUBLISHER="$publisher" -DCOPYRIGHT="$copyright"
         -DX64_DLL="$x64" -DX86_DLL="$x86" -DMODULE_NAME="$(identity MODULE_NAME)"
         -DCLSID="$(identity CLASS_ID)" -DPROGID="$(progid)"
         -DCHECKS_DLL="$work_dir/TOLVANE_CHECKS.DLL" "${extra[@]}")
# A copy, which is signed: the build tree's stays as it was built. Setup and
# the uninstaller both pack it.
cp "$checks" "$work_dir/TOLVANE_CHECKS.DLL"
signing=0
[ -n "${TOLVANE_SIGN_CERT:-}" ] && [ -n "${TOLVANE_SIGN_KEY:-}" ] && signing=1
[ "$signing" = 0 ] || "$root/installer/sign.sh" "$work_dir/TOLVANE_CHECKS.DLL"
makensis -V2 -NOCD -INPUTCHARSET UTF8 "${defines[@]}" -DOUTFILE="$work_dir/uninstall.bin" \
  "$root/installer/uninstall.nsi" >&2
if [ "$signing" = 1 ]; then
  "$root/installer/sign.sh" "$work_dir/uninstall.exe" "$work_dir/uninstall.bin"
  defines+=(-DSIGN_COMMAND="\"$root/installer/sign.sh\" \"%1\"")
fi
mkdir -p "$(dirname "$out")"
makensis -V2 -NOCD -INPUTCHARSET UTF8 "${defines[@]}" -DOUTFILE="$out" \
  -DUNINSTALL_LAUNCHER="$work_dir/uninstall.exe" -DUNINSTALL_PROGRAM="$work_dir/uninstall.bin" \
  "$root/installer/tolvane.nsi" >&2
