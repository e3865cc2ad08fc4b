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
# folders hold the new modules alone and the page still appears.
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
hold_page 32
touch "$work/release-$name-64"
install "$work/setup-upgrade/setup.exe"
check_modules "$upgrade/x64.dll" "$upgrade/x86.dll"
expect 64 "$arp" DisplayVersion "$later"
expect 64 "$arp" TolvaneCreated "$created_fresh" REG_DWORD
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
expect 64 "$arp" TolvaneCreated "$created_fresh" REG_DWORD
check_pages

step "$name: QuietUninstallString while both hold the page, then the restart"
hold_page 64
hold_page 32
uninstall 3010
[ -e "$WINEPREFIX/drive_c/Program Files/Tolvane/PELLMORE.DLL" ] || fail "the held x64 module went before the restart"
release_holders
restart
unchanged_by "uninstalling while in use and restarting"
done_with_prefix
finish
