#!/usr/bin/env bash
# end_to_end.sh PELLMORE.DLL shell_properties.exe WORK_DIR [32|64 [create_by_class.exe]]
#
# The module as a user gets it, in a fresh Wine prefix of its own under
# WORK_DIR (64-bit for a 64-bit module; an ARM64 module, told by its PE
# header, in the ARM64 platform's Wine): installed below "C:\Program Files",
# registered with the regsvr32 of its architecture, every registry entry
# read back with reg query (in the module's registry view), the shell's
# Properties dialog of a WAV file opened through its context menu with the
# Information page read back (and, when Xvfb is there, photographed to
# WORK_DIR/properties.png), then unregistered with regsvr32 /u. With
# create_by_class.exe, copies in folders whose paths ANSI cannot hold are
# registered too, each created by its class identifier through COM.
# Wine's shell keeps a reference on the extension, so unloading is not
# asserted here.
set -uo pipefail
if [ $# -lt 3 ] || [ $# -gt 5 ] || [ -z "$3" ]; then
  echo "usage: end_to_end.sh PELLMORE.DLL shell_properties.exe WORK_DIR [32|64 [create_by_class.exe]]" >&2
  exit 2
fi
dll="$(realpath "$1")"
shell_exe="$(realpath "$2")"
work="$(realpath -m "$3")"
bits="${4:-32}"
create_exe="${5:+$(realpath "$5")}"
# Arguments reach Wine as UTF-8 whatever the caller's locale.
export LC_ALL=C.UTF-8
source "$(dirname "${BASH_SOURCE[0]}")/../wine.sh"
# The prefix is our own.
export WINEPREFIX="$work/prefix"

make_prefix() { wineprefix_make "$WINEPREFIX" "$WINEARCH" null; }

# regsvr32 and reg of the module's architecture: `wine` starts the 32-bit
# builtins even in a 64-bit prefix.
if [ "$(pe_kind "$dll")" = "PE32+ ARM64 DLL" ]; then
  # An ARM64 module runs only under the arm64 Wine of the ARM64 platform,
  # whose builtins (regsvr32, reg, winepath) are ARM64 programs that see the
  # 64-bit registry view; every Wine program runs in its chroot.
  export TOLVANE_ARM64_PREFIX="$WINEPREFIX"
  # The file that releases the dialog must be where the chroot sees it too.
  export TMPDIR="$work/tmp"
  source "$root/scripts/arm64-platform"
  regsvr32() { wine regsvr32 "$@"; }
  reg() { wine reg "$@"; }
  # A copy of the platform's template: wineboot takes minutes under emulation.
  make_prefix() { "$root/scripts/arm64-platform" prefix "$WINEPREFIX"; }
elif [ "$bits" = 64 ]; then
  export WINEARCH=win64
  wine64="$(wine64_path)" || { echo "FAIL: no wine64"; exit 1; }
  regsvr32() { "$wine64" regsvr32 "$@"; }
  reg() { wine reg "$@" /reg:64; }
else
  export WINEARCH=win32
  regsvr32() { wine regsvr32 "$@"; }
  reg() { wine reg "$@"; }
fi

cleanup() {
  wineserver -k 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT

handler='HKCR\WAV.File\shellex\PropertySheetHandlers\Tolvane'
# The handler keys every .wav file's association array keeps, whatever
# program the user chose, with another program's handler beside ours.
lasting=('HKCR\SystemFileAssociations\.wav\shellex\PropertySheetHandlers' 'HKCR\*\shellex\PropertySheetHandlers')
other='{00000000-0000-0000-0000-000000000001}'

step "fresh prefix"
rm -rf "$work"
mkdir -p "$work" "${TMPDIR:-/tmp}"
# Dialogs without a display: Wine's null graphics driver.
make_prefix
wineserver -p
expect_no_key 'HKCR\.wav'
for key in "${lasting[@]}"; do
  reg add "$key\\Other" /ve /d "$other" /f >/dev/null || fail "reg add $key\\Other failed"
done

step "regsvr32"
install_dir="$WINEPREFIX/drive_c/Program Files/Tolvane"
mkdir -p "$install_dir"
cp "$dll" "$install_dir/PELLMORE.DLL"
module='C:\Program Files\Tolvane\PELLMORE.DLL'
regsvr32 /s "$module" || fail "regsvr32 $module failed"
short="$(winepath -s "$module" | tr -d '\r')"
[[ "$short" != *" "* && "$short" == *'\PELLMORE.DLL' ]] || fail "no short form of $module: $short"

step "reg query after registration"
expect "HKCR\\CLSID\\$clsid" "" "Fennrick"
expect "HKCR\\CLSID\\$clsid\\InprocServer32" "" "$short"
expect "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel "Apartment"
expect "HKCR\\CLSID\\$clsid\\ProgID" "" "PELLMORE.TTolvane"
expect 'HKCR\PELLMORE.TTolvane' "" "Fennrick"
expect 'HKCR\PELLMORE.TTolvane\Clsid' "" "$clsid"
expect 'HKCR\.wav' "" "WAV.File"
expect 'HKCR\WAV.File\shellex' "" ""
expect 'HKCR\WAV.File\shellex\PropertySheetHandlers' "" ""
expect "$handler" "" "$clsid"
expect "$approved" "$clsid" "Tolvane"
for key in "${lasting[@]}"; do expect "$key\\Tolvane" "" "$clsid"; done

# Wine's shell reads the handlers of the type .wav names and of "*": the
# sheet has one Information page all the same (page_problems).
step "the shell's Properties dialog"
sample_dir="$WINEPREFIX/drive_c/Sound samples"
"$root/scripts/sample-wav" "$sample_dir/Sample Song.wav" 2
sample='C:\Sound samples\Sample Song.wav'
check_page() {
  local problems
  problems="$(page_problems "$1" 'Sample Song.wav')"
  [ -z "$problems" ] || fail "$problems"
}
output="$work/page.txt"
wine "$shell_exe" "$sample" --timeout 30 >"$output" || fail "shell_properties failed ($?)"
check_page "$output"
cat "$output"

if command -v Xvfb >/dev/null && command -v import >/dev/null; then
  step "the same dialog drawn, photographed"
  wineserver -k
  wine_settings x11 wine
  wineserver -k
  if start_xvfb; then
    shot_output="$work/page-drawn.txt"
    properties_screenshot "$shell_exe" "$sample" "$work/properties.png" "$shot_output" ||
      fail "no screenshot of the Properties dialog"
    check_page "$shot_output"
    size="$(identify -format '%w %h' "$work/properties.png" 2>/dev/null)"
    read -r width height <<<"$size"
    [ "${width:-0}" -gt 200 ] && [ "${height:-0}" -gt 200 ] ||
      fail "the screenshot is ${size:-unreadable}"
    echo "screenshot: $work/properties.png ($size)"
    wineserver -k
    stop_xvfb
  else
    fail "Xvfb did not start"
  fi
fi

if [ -n "$create_exe" ]; then
  # A folder outside the ANSI code page (its ANSI path reads "C:\?????\...")
  # and one deeper than the 261 characters the ANSI path is read into.
  deep="Deep"
  for part in a b c; do deep+="/$(printf "$part%.0s" {1..90})"; done
  for folder in 'Звуки' "$deep"; do
    windows_folder="C:\\${folder//\//\\}"
    step "regsvr32 and CoCreateInstance from ${windows_folder:0:40}..."
    copy="$WINEPREFIX/drive_c/$folder/PELLMORE.DLL"
    mkdir -p "$(dirname "$copy")"
    cp "$dll" "$copy"
    regsvr32 /s "$windows_folder\\PELLMORE.DLL" ||
      fail "regsvr32 of the copy in ${windows_folder:0:40}... failed"
    created="$(wine "$create_exe" | tr -d '\r')"
    [ -n "$created" ] && [ "$(winepath -u "$created")" -ef "$copy" ] ||
      fail "CoCreateInstance did not load the copy in ${windows_folder:0:40}...: ${created:-nothing}"
  done
  regsvr32 /s "$module" || fail "regsvr32 $module failed"
fi

step "regsvr32 /u"
regsvr32 /s /u "$module" || fail "regsvr32 /u $module failed"
expect_no_key "HKCR\\CLSID\\$clsid"
expect_no_key 'HKCR\PELLMORE.TTolvane'
expect_no_key "$handler"
expect 'HKCR\.wav' "" "WAV.File"
expect 'HKCR\WAV.File\shellex' "" ""
expect 'HKCR\WAV.File\shellex\PropertySheetHandlers' "" ""
expect "$approved" "$clsid" "Tolvane"
expect_key 'HKCR\CLSID'
for key in "${lasting[@]}"; do
  expect_no_key "$key\\Tolvane"
  expect "$key\\Other" "" "$other"
done

[ "$status" = 0 ] && echo "end to end: all checks passed"
exit "$status"
