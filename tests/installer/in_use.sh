#!/usr/bin/env bash
# in_use.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# Setup and the uninstaller while programs hold the page (and so the module)
# open, in one 64-bit Wine prefix under WORK_DIR (see lib.sh). A held module
# keeps one Wine process running, so restart operations wait for the
# "restart" (wineboot -r) as on Windows.
#   repair    setup /S of the installed version while a 64-bit program
#             holds the page
#   upgrade   setup /S of a later version (the modules with the last part
#             of their version raised) while a 32-bit program holds it
#   uninstall the QuietUninstallString while both hold it returns 3010,
#             with the entry and the registration gone at once
#   setup     setup /S again before the restart, then the restart
#   uninstall the same while both hold it, then the restart: all as before
#             the first setup
# After each setup both class keys name existing files with the new bytes,
# and new 64-bit and 32-bit programs show the page; after the restart the
# folders hold the new modules alone and the page still appears. Then, in
# the same prefix, the record of what setup created through other events:
#   killed    a setup that stops right after registering, as one killed
#             then would, and setup /S: the record is what one setup makes
#   takeover  another program points .wav at its own type; the upgrade
#             hooks that type and records the keys it makes there
#   rollback  a setup of the same version whose 32-bit module does not
#             register, while a program already holds its new 64-bit module:
#             the version there stays registered and working, the held new
#             module is aside and goes at the restart
#   uninstall while it is still held (3010), then the restart: all as before
#             the first setup but the other program's entries, as it left
#             them
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The later version: same length, last part one higher (a last part of 9
# would change the length; the version resource then needs another test).
later="${version%.*}.$((${version##*.} + 1))"
[ "${#later}" = "${#version}" ] || { echo "FAIL: no later version of the same length than $version"; exit 1; }
upgrade="$work/upgrade"
mkdir -p "$upgrade"
with_version "$x64_dll" "$upgrade/x64.dll" "$later" || fail "could not give the x64 module version $later"
with_version "$x86_dll" "$upgrade/x86.dll" "$later" || fail "could not give the x86 module version $later"
setup_variant upgrade --version "$later" "$upgrade/x64.dll" "$upgrade/x86.dll"
setup_variant killed --define TEST_QUIT_AFTER_REGISTERING "$x64_dll" "$x86_dll"
# The later version whose 32-bit module does not register, waiting before it
# writes that module until the file "go" exists.
LC_ALL=C sed 's/DllRegisterServer/DllRegisterServeX/' "$upgrade/x86.dll" >"$upgrade/x86-broken.dll"
go="$work/go-rollback"
rm -f "$go"
setup_variant rollback --version "$later" --define "TEST_WAIT_BEFORE_X86=Z:${go//\//\\}" \
  "$upgrade/x64.dll" "$upgrade/x86-broken.dll"

new_prefix in-use
snapshot "$work/$name-before"
step "$name: setup /S"
install
check_installed WAV.File

step "$name: repair (setup /S of $version) while a 64-bit program holds the page"
hold_page 64
install
check_modules
check_pages

step "$name: upgrade to $later while a 32-bit program holds the page"
variants_built
hold_page 32
touch "$work/release-$name-64"
install "$work/setup-upgrade/setup.exe"
check_modules "$upgrade/x64.dll" "$upgrade/x86.dll"
expect 64 "$arp" DisplayVersion "$later"
check_pages

step "$name: QuietUninstallString while both hold the page; the restart declined"
hold_page 64
uninstall 3010

step "$name: setup /S of $later before the restart"
install "$work/setup-upgrade/setup.exe"
check_modules "$upgrade/x64.dll" "$upgrade/x86.dll"
check_pages

step "$name: the programs end, Windows restarts"
release_holders
restart
check_installed WAV.File "$later" "$upgrade/x64.dll" "$upgrade/x86.dll"
check_pages

step "$name: QuietUninstallString while both hold the page, then the restart"
hold_page 64
hold_page 32
uninstall 3010
[ -e "$WINEPREFIX/drive_c/Program Files/Tolvane/PELLMORE.DLL" ] || fail "the held x64 module went before the restart"
release_holders
restart
unchanged_by "uninstalling while in use and restarting"

step "$name: killed: a setup that stops right after registering, then setup /S"
timeout 60 wine "$work/setup-killed/setup.exe" /S </dev/null
expect_no_value 64 "$arp" DisplayName
expect_recorded
install

step "$name: takeover: another program takes .wav, then the upgrade to $later"
reg_add 'HKCR\.wav' /ve /d Other.Sound
reg_add 'HKCR\Other.Sound' /ve /d 'Other sound'
reg_add 'HKCR\Other.Sound\shell\open\command' /ve /d 'other.exe "%1"'
install "$work/setup-upgrade/setup.exe"
expect 64 'HKCR\Other.Sound\shellex\PropertySheetHandlers\Tolvane' "" "$clsid"
# Other.Sound's shellex keys are recorded, for the uninstall to take.
value 64 "$arp" TolvaneRecord | grep -qF 'key||HKCR||Other.Sound\shellex' ||
  fail "the record does not name Other.Sound's shellex key"

step "$name: rollback: setup /S of $later fails while a program holds its new 64-bit module"
timeout 60 wine "$work/setup-rollback/setup.exe" /S </dev/null & rollback=$!
# Waiting for "go": the 32-bit module is aside, the new 64-bit one registered.
x86_folder="$WINEPREFIX/drive_c/Program Files (x86)/Tolvane"
for ((i = 0; i < 300; i++)); do
  [ -e "$x86_folder/PELLMORE.DLL.1.old" ] && [ ! -e "$x86_folder/PELLMORE.DLL" ] && break
  sleep 0.1
done
[ -e "$x86_folder/PELLMORE.DLL.1.old" ] || fail "the failing setup did not get to its 32-bit module"
hold_page 64
touch "$go"
wait "$rollback"
code=$?
[ "$code" = 2 ] || fail "the failed setup exits with $code, expected 2"
check_modules "$upgrade/x64.dll" "$upgrade/x86.dll"
check_page "$shell32" 32
pending="$(value 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations)"
grep -qE 'Program Files\\Tolvane\\PELLMORE\.DLL\.[0-9]+\.old' <<<"$pending" ||
  fail "the held new module waits for no restart: $pending"

step "$name: QuietUninstallString while the new module is held aside, then the restart"
uninstall 3010
release_holders
restart
expect 64 'HKCR\.wav' "" Other.Sound
expect 64 'HKCR\Other.Sound' "" 'Other sound'
expect 64 'HKCR\Other.Sound\shell\open\command' "" 'other.exe "%1"'
expect_no_key 64 'HKCR\Other.Sound\shellex'
expect_no_key 64 'HKCR\WAV.File'
# The other program goes too.
timeout 30 wine reg delete 'HKCR\Other.Sound' /f >/dev/null 2>&1
timeout 30 wine reg delete 'HKCR\.wav' /f >/dev/null 2>&1
unchanged_by "a stopped setup, a takeover of .wav, an upgrade, a failed one, uninstall and restart"
done_with_prefix
finish
