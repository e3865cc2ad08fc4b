#!/usr/bin/env bash
# uninstall_paths.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# What runs when, elevated, someone starts the uninstaller another way than
# the entry's QuietUninstallString, and where it runs, in 64-bit Wine
# prefixes under WORK_DIR (see lib.sh). %TEMP% is C:\Windows\Temp, as for
# SYSTEM under a deployment tool, and a user has put a program that leaves a
# mark when it runs (planted.c) wherever uninstall.exe might take the
# uninstaller from. Each refused start exits 2, runs nothing planted (Wine's
# trace of loaded modules, the mark), and leaves the registry and the files
# as they were:
#   old-string  the previous release's QuietUninstallString, which copies
#               uninstall.exe to %TEMP%\Tolvane-uninstall-NNNN.exe and starts
#               the copy, beside C:\Windows\Temp\uninstall.bin
#   copied      uninstall.exe copied to C:\users\Public\x, beside an
#               uninstall.bin, started with /S
#   direct      the uninstaller, uninstall.bin, started with /S in
#               Program Files\Tolvane (it makes no copy in %TEMP%), and a copy
#               in a user's folder named as uninstall.exe names its folders
#               (in C:\users\Public, and in C:\Windows\Temp)
#   arguments   uninstall.exe with /D=, _?=, /NCRC, a quoted /S or an
#               argument of 32,000 characters besides /S; and without /S on
#               a window station no person sees (unseen.c): no message box
#               waits there
#   crowded     the QuietUninstallString while a user has made the 99 names
#               uninstall.exe uses in C:\Windows\Temp and decoys in them:
#               0, the uninstaller runs from C:\Program Files\Tolvane-
#               uninstall-1.tmp, the decoys stay; after the restart all is
#               as before setup
#   killed      uninstall.exe killed while its uninstaller waits for the
#               mutex: the uninstall goes on and leaves its folder to the
#               restart; a setup killed while it registers removed that
#               folder at once and leaves its plug-in folder, which setup
#               again removes at once, with the name it reserved for it
#               (nstXXXX.tmp); after the uninstall (uninstall.exe
#               started by its 8.3 path, in lower case) and the restart
#               nothing of ours is left in either Program Files, and all is
#               as before setup
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# A setup that waits, once its plug-in folder is made and the 64-bit module
# registered, for a file that never comes: a setup to kill while it
# registers.
never="$work/never"
rm -f "$never"
setup_variant waits --define "TEST_WAIT_BEFORE_X86=Z:${never//\//\\}" "$x64_dll" "$x86_dll"

test_program unseen
test_program planted
installed='C:\Program Files\Tolvane'
launcher="$installed\\uninstall.exe"
windows_temp='C:\windows\Temp'

# plant DIR: the marking program as DIR\uninstall.bin (DIR: a Windows path).
plant() {
  mkdir -p "$(unix_path "$1")"
  cp "$work/planted.exe" "$(unix_path "$1\\uninstall.bin")"
}

# refused_start NAME LINE: LINE exits 2 and runs no uninstall.bin.
refused_start() {
  local ran
  run_line "$name-$1" "$2"
  [ "$code" = 2 ] || fail "$1: $2 exits with '$code', expected 2"
  ran="$(loaded "$work/$name-$1.trace" | grep -i 'uninstall\.bin$')"
  [ -z "$ran" ] || fail "$1: $2 ran $ran"
  echo "$1: $2: exit $code, no uninstall.bin ran"
}

# nothing_ran WHAT: no mark; installed and unchanged.
nothing_ran() {
  check_marks "$1"
  check_installed WAV.File
  unchanged_by "$1"
}

check_marks() {
  local mark
  for mark in "$(unix_path "$windows_temp")/uninstall.bin.ran" "$(unix_path 'C:\users\Public\x')/uninstall.bin.ran"; do
    [ ! -e "$mark" ] || fail "$1: the program planted as $(dirname "$mark")/uninstall.bin ran"
  done
}

# -- Other ways of starting the uninstaller ----------------------------------
new_prefix paths
unseen="$(winepath -w "$work/unseen.exe")"
temp_is "$windows_temp"
plant "$windows_temp"
plant 'C:\users\Public\x'
step "$name: a user made the 99 names of uninstall.exe's folders in C:\\Windows\\Temp, with decoys"
for n in {1..99}; do mkdir -p "$(unix_path "$windows_temp")/Tolvane-uninstall-$n.tmp"; done
for decoy in Tolvane-uninstall-1.tmp/uninstall.bin Tolvane-uninstall-1.tmp/uninstall.exe Tolvane-uninstall-99.tmp/uninstall.bin; do
  echo "a user's $decoy" >"$(unix_path "$windows_temp")/$decoy"
done
(cd "$(unix_path "$windows_temp")" && sha256sum Tolvane-uninstall-*.tmp/*) >"$work/$name-decoys.sha"
snapshot "$work/$name-fresh"
install
check_installed WAV.File
cp "$WINEPREFIX/drive_c/Program Files/Tolvane/uninstall.exe" "$(unix_path 'C:\users\Public\x')/"
snapshot "$work/$name-before"

step "old-string: the previous release's QuietUninstallString, with C:\\Windows\\Temp\\uninstall.bin planted"
refused_start old-string "\"C:\\windows\\System32\\cmd.exe\" /d /v:on /s /c \"set \"uninstaller=%TEMP%\\Tolvane-uninstall-!RANDOM!.exe\"&& copy /b /y \"$launcher\" \"!uninstaller!\" >nul && start \"\" /wait \"!uninstaller!\" /S _?=$installed\""
# The copy it made stays in %TEMP%, where the snapshot did not see it.
copies=("$(unix_path "$windows_temp")"/Tolvane-uninstall-*.exe)
if [ "${#copies[@]}" = 1 ] && cmp -s "${copies[0]}" "$WINEPREFIX/drive_c/Program Files/Tolvane/uninstall.exe"; then
  rm -f "${copies[0]}"
else
  fail "old-string: cmd made no copy of uninstall.exe in %TEMP%: ${copies[*]}"
fi
nothing_ran old-string

step "copied: uninstall.exe copied to C:\\users\\Public\\x, beside an uninstall.bin"
refused_start copied '"C:\users\Public\x\uninstall.exe" /S'
nothing_ran copied

step "direct: uninstall.bin /S in Program Files\\Tolvane, and in a folder named like uninstall.exe's"
run_line "$name-direct" "\"$installed\\uninstall.bin\" /S"
[ "$code" = 2 ] || fail "direct: exits with '$code', expected 2"
nsu="$(ls -d "$(unix_path "$windows_temp")"/~nsu* "$WINEPREFIX/drive_c/users/$(whoami)/Temp"/~nsu* 2>/dev/null)"
[ -z "$nsu" ] || fail "direct: the uninstaller made a copy of itself: $nsu"
nothing_ran direct
# (Any user can make folders in the Windows folder's Temp too: the user
# made Tolvane-uninstall-7.tmp above.)
mkdir -p "$(unix_path 'C:\users\Public\Tolvane-uninstall-1.tmp')"
for lookalike in 'C:\users\Public\Tolvane-uninstall-1.tmp' "$windows_temp\\Tolvane-uninstall-7.tmp"; do
  cp "$WINEPREFIX/drive_c/Program Files/Tolvane/uninstall.bin" "$(unix_path "$lookalike")/"
  snapshot "$work/$name-before"
  run_line "$name-lookalike" "\"$lookalike\\uninstall.bin\" /S"
  [ "$code" = 2 ] || fail "lookalike $lookalike: exits with '$code', expected 2"
  check_installed WAV.File
  unchanged_by "lookalike $lookalike"
  rm -f "$(unix_path "$lookalike")/uninstall.bin"
done
rmdir "$(unix_path 'C:\users\Public\Tolvane-uninstall-1.tmp')"

step "arguments: uninstall.exe with what it does not support"
snapshot "$work/$name-before"
n=0
for arguments in '/S /D=C:\x' '/S _?=C:\x' '/S /NCRC' '/S "/S"'; do
  refused_start "arguments-$((++n))" "\"$launcher\" $arguments"
done
timeout 60 wine "$launcher" /S "$(printf 'A%.0s' {1..32000})" </dev/null
code=$?
[ "$code" = 2 ] || fail "uninstall.exe /S with an argument of 32,000 characters exits with $code, expected 2"
echo "uninstall.exe /S and 32,000 characters: exit $code"
# Without /S, on a window station no person sees: a box there would wait
# for ever (unseen.c ends it after a minute, with 1).
refused_start unseen "\"$unseen\" \"$launcher\" /D=C:\\x"
nothing_ran arguments

step "crowded: the QuietUninstallString with C:\\Windows\\Temp's names taken"
uninstall 0
loaded "$work/uninstall-$name.trace" | grep -qxF 'C:\Program Files\Tolvane-uninstall-1.tmp\uninstall.bin' ||
  fail "crowded: the uninstaller did not run from C:\\Program Files\\Tolvane-uninstall-1.tmp"
(cd "$(unix_path "$windows_temp")" && sha256sum --quiet -c "$work/$name-decoys.sha") ||
  fail "crowded: the uninstall changed a user's decoys in C:\\Windows\\Temp"
check_marks crowded
restart
rm -f "$(unix_path 'C:\users\Public\x')/uninstall.exe"
snapshot "$work/$name-after"
compare "$work/$name-fresh" "$work/$name-after" "after uninstalling and the restart"
done_with_prefix

# -- Killed ------------------------------------------------------------------
new_prefix killed
snapshot "$work/$name-before"
install
check_installed WAV.File

step "$name: uninstall.exe killed while its uninstaller waits for the mutex"
hold --mutex "$mutex"
printf '@"%s" /S\r\n' "$launcher" >"$work/$name-launcher.bat"
wine cmd /c "$(winepath -w "$work/$name-launcher.bat")" </dev/null >/dev/null 2>&1 &
started=$!
copy="$WINEPREFIX/drive_c/Program Files/Tolvane-uninstall-1.tmp/uninstall.bin"
for _ in {1..300}; do
  [ -n "$(wine_pids 'Tolvane-uninstall-1[.]tmp.uninstall[.]bin')" ] && break
  sleep 0.1
done
pids="$(wine_pids 'uninstall[.]exe')"
[ -n "$pids" ] && [ -n "$(wine_pids 'uninstall[.]bin')" ] || fail "$name: the uninstaller did not start: $(ls "$(dirname "$copy")" 2>&1)"
kill -KILL $pids
wait "$started" 2>/dev/null
release_holders
for _ in {1..300}; do
  uninstaller_running || break
  sleep 0.1
done
uninstaller_running && fail "$name: the uninstaller did not end"
check_uninstalled
pending="$(value 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations)"
for path in 'Tolvane-uninstall-1.tmp\uninstall.exe' 'Tolvane-uninstall-1.tmp\uninstall.bin' 'Tolvane-uninstall-1.tmp\0'; do
  grep -qF "C:\\Program Files\\$path" <<<"$pending" ||
    fail "$name: C:\\Program Files\\$path is not left to the restart: $pending"
done
[ -f "$copy" ] || fail "$name: the copy of the uninstaller is gone before the restart"

step "$name: a setup killed while it registers"
variants_built
wine "$work/setup-waits/setup.exe" /S </dev/null >/dev/null 2>&1 &
started=$!
for _ in {1..300}; do
  [ -d "$WINEPREFIX/drive_c/Program Files (x86)/Tolvane" ] && break
  sleep 0.1
done
pids="$(wine_pids 'setup-waits.setup[.]exe')"
[ -n "$pids" ] || fail "$name: the setup to kill is not running"
kill -KILL $pids
wait "$started" 2>/dev/null
# It removed what the killed uninstall.exe left, at once.
[ ! -e "$(dirname "$copy")" ] || fail "$name: setup left $(dirname "$copy")"
plugins=("$WINEPREFIX/drive_c/Program Files (x86)"/Tolvane-plugins-*.tmp)
[ -f "${plugins[0]}/System.dll" ] || fail "$name: the killed setup left no plug-in folder: ${plugins[*]}"

step "$name: setup again removes the plug-in folder; uninstall and the restart leave nothing"
install
check_installed WAV.File
left="$(cd "$WINEPREFIX/drive_c" && ls -d "Program Files"/{Tolvane-*,nst*.tmp} "Program Files (x86)"/{Tolvane-*,nst*.tmp} 2>/dev/null)"
[ -z "$left" ] || fail "$name: setup left what the killed programs left: $left"
# The folder compares by identity, not by how the path is written.
printf '@for %%%%I in ("%s") do @echo %%%%~sI\r\n' "$launcher" >"$work/$name-short.bat"
short="$(wine cmd /c "$(winepath -w "$work/$name-short.bat")" </dev/null 2>/dev/null | tr -d '\r')"
[[ "$short" == *'~'*'\uninstall.exe' ]] || fail "$name: no 8.3 path of $launcher: $short"
run_line "$name-short" "\"${short,,}\" /S"
[ "$code" = 0 ] || fail "$name: \"${short,,}\" /S exits with '$code', expected 0"
loaded "$work/$name-short.trace" | grep -qxF 'C:\Program Files\Tolvane-uninstall-1.tmp\uninstall.bin' ||
  fail "$name: the uninstaller did not run from C:\Program Files\Tolvane-uninstall-1.tmp"
check_uninstalled
echo "\"${short,,}\" /S: exit $code"
restart
left="$(cd "$WINEPREFIX/drive_c" && ls -d "Program Files"/Tolvane* "Program Files (x86)"/Tolvane* 2>/dev/null)"
[ -z "$left" ] || fail "$name: after the uninstall and the restart: $left"
unchanged_by "the killed programs, setup, uninstall and the restart"
done_with_prefix
finish
