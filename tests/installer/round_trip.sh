#!/usr/bin/env bash
# round_trip.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# The setup program of DIST_DIR (made by scripts/release) as a user runs it,
# in 64-bit Wine prefixes of its own under WORK_DIR (see lib.sh):
#   fresh     a setup whose 32-bit module cannot register fails and leaves
#             nothing behind; two setups /S started at once while a third
#             holds the mutex: both wait, then both succeed and record what
#             the first created; setup /S once more over itself; the class
#             keys of both registry views name the installed module of their
#             architecture; the Add/Remove Programs entry; the Information
#             page in the 64-bit and in the 32-bit shell (SHELL64.EXE and
#             SHELL32.EXE are the two builds of shell_properties); the
#             entry's QuietUninstallString, done when it returns, while
#             folders and files that a user made first in %TEMP% and in
#             C:\Windows\Temp under the names uninstalls use or used wait
#             there: they stay as they were, and the uninstaller runs from a
#             new folder of Program Files; after Wine's restart (which
#             deletes uninstall.exe and its folder) the registry of both
#             views and the files of drive C are as before setup.
#   existing  .wav already names a file type with another property sheet
#             handler, and %TEMP% holds blanks, "!", "^", "%" and Cyrillic:
#             the same round trip leaves the type, its handler and .wav's
#             value as they were.
#   arm64     a setup built to take its ARM64 branch on x64 Windows (the
#             x64 module standing in for the ARM64 one): the ARM64 module in
#             Program Files\Tolvane, the x86 one in Program Files (x86), both
#             registered; the QuietUninstallString with a %TEMP% of 245
#             characters; all as before after the restart.
# Every setup and uninstall loads nothing from a place others may write
# (lib.sh: install, uninstall). Prints how long setup and the uninstaller
# take.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# After the uninstall and Wine's restart: no page in either shell, and the
# registry and the files as before setup.
expect_as_before_setup() {
  step "$name: after Wine's restart, no page and all as before setup"
  restart
  check_no_page "$shell64" 64
  check_no_page "$shell32" 32
  unchanged_by "after uninstalling"
  done_with_prefix
}

# A setup like the real one, but its 32-bit module has no DllRegisterServer.
broken="$work/broken"
mkdir -p "$broken"
LC_ALL=C sed 's/DllRegisterServer/DllRegisterServeX/' "$x86_dll" >"$broken/PELLMORE.DLL"
cmp -s "$broken/PELLMORE.DLL" "$x86_dll" && fail "could not break the 32-bit module"
setup_variant broken "$x64_dll" "$broken/PELLMORE.DLL"
setup_variant arm64 --define TEST_ARM64_BRANCH "$x64_dll" "$x86_dll"


# -- A fresh system ----------------------------------------------------------
new_prefix fresh
step "$name: before setup; a user's files in %TEMP% and C:\Windows\Temp under uninstallers' names"
temp="$WINEPREFIX/drive_c/users/$(whoami)/Temp"
windows_temp="$WINEPREFIX/drive_c/windows/temp"
for folder in "$temp" "$windows_temp"; do
  mkdir -p "$folder/Tolvane-uninstall-1.tmp" "$folder/./~nsu1.tmp"
  for decoy in Tolvane-uninstall-1.tmp/uninstall.bin Tolvane-uninstall-1.tmp/uninstall.exe \
               ./~nsu1.tmp/Un.exe Tolvane-uninstall-2590.exe; do
    echo "a user's $decoy" >"$folder/$decoy"
  done
done
(cd "$WINEPREFIX/drive_c" && sha256sum {"${temp#*/drive_c/}","${windows_temp#*/drive_c/}"}/{Tolvane-uninstall-1.tmp/*,./~nsu1.tmp/*,Tolvane-uninstall-2590.exe}) \
  >"$work/decoys.sha"
check_no_page "$shell64" 64
check_no_page "$shell32" 32
expect_no_key 64 'HKCR\.wav'
snapshot "$work/$name-before"

step "$name: a setup whose 32-bit module does not register"
variants_built
refused "$work/setup-broken/setup.exe" "after the failed setup"

step "$name: two setups /S at once, while another one holds the mutex"
hold --mutex "$mutex"
start="$(now_ms)"
timeout 60 wine "$setup" /S </dev/null & first=$!
timeout 60 wine "$setup" /S </dev/null & second=$!
sleep 3
kill -0 "$first" 2>/dev/null && kill -0 "$second" 2>/dev/null || fail "a setup did not wait for the mutex"
[ -e "$WINEPREFIX/drive_c/Program Files/Tolvane" ] && fail "a setup went on while the mutex was held"
release_holders
wait "$first" || fail "the first of two setups failed ($?)"
wait "$second" || fail "the second of two setups failed ($?)"
echo "time: two setups /S took $(seconds $(($(now_ms) - start))) s, 3 s of them waiting"
check_installed WAV.File
expect 64 'HKCR\WAV.File\shellex' "" ""
expect 64 'HKCR\WAV.File\shellex\PropertySheetHandlers' "" ""
expect_recorded

step "$name: setup /S over the installed one"
install
check_installed WAV.File

step "$name: the shell's Properties dialog"
check_pages
check_association_array
echo "both shells show the Information page"

step "$name: QuietUninstallString"
uninstall 0
(cd "$WINEPREFIX/drive_c" && sha256sum --quiet -c "$work/decoys.sha") ||
  fail "the uninstall changed a user's files in %TEMP% or C:\Windows\Temp"
loaded "$work/uninstall-$name.trace" | grep -qxF 'C:\Program Files\Tolvane-uninstall-1.tmp\uninstall.bin' ||
  fail "the uninstaller did not run from C:\Program Files\Tolvane-uninstall-1.tmp"
[ ! -e "$WINEPREFIX/drive_c/Program Files/Tolvane" ] || fail "$dir64 is still there"
[ ! -e "$WINEPREFIX/drive_c/Program Files (x86)/Tolvane" ] || fail "$dir32 is still there"
for view in 64 32; do expect_key "$view" "$approved"; done
expect_no_key 64 'HKCR\.wav'
expect_no_key 64 'HKCR\WAV.File'

expect_as_before_setup

# -- .wav names a file type with a handler of its own ------------------------
new_prefix existing
other='{5A0B4E3C-8C1D-4E2F-9A3B-7C6D5E4F3A2B}'
step "$name: .wav is a Sound.Recording with a handler Loudness; %TEMP% holds ! ^ % and Cyrillic"
temp_is 'C:\users\Public\a b!c^d%e '$'\u0417\u0432\u0443\u043a' 
reg_add 'HKCR\.wav' /ve /d Sound.Recording
reg_add 'HKCR\.wav' /v 'Content Type' /d audio/wav
reg_add 'HKCR\Sound.Recording' /ve /d 'Wave Sound'
reg_add 'HKCR\Sound.Recording\shellex\PropertySheetHandlers\Loudness' /ve /d "$other"
check_no_page "$shell64" 64
check_no_page "$shell32" 32
snapshot "$work/$name-before"

step "$name: setup /S"
install
check_installed Sound.Recording
expect_no_key 64 'HKCR\WAV.File'
check_pages

step "$name: QuietUninstallString"
uninstall 0
expect 64 'HKCR\.wav' "" "Sound.Recording"
expect 64 'HKCR\.wav' 'Content Type' "audio/wav"
expect 64 'HKCR\Sound.Recording' "" "Wave Sound"
expect 64 'HKCR\Sound.Recording\shellex\PropertySheetHandlers\Loudness' "" "$other"
expect_no_key 64 'HKCR\Sound.Recording\shellex\PropertySheetHandlers\Tolvane'

expect_as_before_setup

# -- The ARM64 branch, on x64 Wine -------------------------------------------
new_prefix arm64
temp_is "C:\\users\\Public\\$(printf 'T%.0s' {1..229})"
snapshot "$work/$name-before"
step "$name: setup /S"
install "$work/setup-arm64/setup.exe"
check_installed WAV.File
check_page "$shell64" 64
step "$name: QuietUninstallString"
uninstall 0
restart
unchanged_by "after uninstalling"
done_with_prefix
finish
