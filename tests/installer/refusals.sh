#!/usr/bin/env bash
# refusals.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# The registry states that setup's checks (installer/include/checks.nsh,
# which asks installer/checks) refuse and those they pass, in one 64-bit
# Wine prefix under WORK_DIR (see lib.sh) and its one Wine server: hold.c
# gives each key its own access list back when it is released, and each
# state goes after its case. Each refused setup /S exits 2 within a minute
# and leaves the registry and the files as they were; those the checks
# refuse run no regsvr32, and in each of those the x64 Windows Installer
# package, which asks the same checks, ends with 1603 after its Refuse
# action, before any change (no InstallInitialize), where the state is in
# the registry's data; where it is in keys' access lists, which its plan
# (run as the installing user, unelevated on Windows) does not ask, it
# refuses nothing and fails where it writes, 1603, rolled back (denied-type,
# enforced-64):
#   long-type       .wav names a file type of 223 characters (its handler
#                   key's path would pass the 260 characters of the calls)
#   huge-type       .wav names one of 1,024 characters, more than an NSIS
#                   string holds
#   ansi-type       .wav names a type the ANSI code page lacks (Cyrillic and
#                   Greek under a Western code page)
#   not-text        .wav's default value is a REG_DWORD
#   empty-name      .wav names "Sound\\Recording": a key name would be empty
#   denied-wav      .wav names no type and cannot be written
#   denied-type     .wav names Sound.Recording, whose key denies making keys
#   enforced-64     the shell consults the approval list (the machine's
#                   policy EnforceShellExtensionSecurity) and the 64-bit
#                   approval key lets one write but not change its access
#                   list, which KEY_ALL_ACCESS asks for
#   enforced-32     the same by the user's policy, the 32-bit key read-only
#   unchecked-ansi  a build without the checks (registrations ended after
#                   5 s), ansi-type: the module fails before it writes a key
#                   under any type name, without a box (setup runs it on a
#                   window station no one sees), and setup rolls back at once
#   busy            another setup holds the lock (a build that waits 3 s);
#                   the package refuses too (RefuseBusy)
#   foreign         a program that is no installation made the lock, with
#                   default security: setup refuses at once, without the
#                   60 s wait, and so does the package
#   package-running a package's installation has made its mark: setup
#                   refuses at once
#   no-plugins-folder  no folder can be made in Program Files for NSIS's
#                   plug-ins: setup ends with 740, as where it is not run as
#                   an administrator, and loads no plug-in from anywhere
# and states setup passes, in which it installs, the page appears and the
# uninstall leaves all as it was:
#   lenient         .wav names Sound.Recording and cannot be written; the
#                   type's key lets one make keys below it but set no value;
#                   both approval keys refuse what the module asks, and no
#                   policy enforces the list: no approval, and no wait; the
#                   x64 package likewise (but the type key's limit), and its
#                   /x leaves all as it was
#   other-program   .wav names no type; after setup another program adds
#                   a verb and its own page handler to WAV.File: the
#                   uninstall leaves them, and .wav's value that leads to
#                   them, and removes the rest of ours
#   parent-keys     .wav names Sound.Kinds\Wave\Pcm, of which no key exists:
#                   the uninstall removes the parents registration made
#   zero-dword      .wav's default value is a zero-length REG_DWORD, which
#                   the module takes for no type: setup records WAV.File,
#                   and the uninstall puts the value back as it was
#   zero-binary     the same with a zero-length REG_BINARY
#   blank-huge      .wav's default value is 1,100 blanks (no type): put
#                   back whole
#   longest         .wav's default value is a REG_EXPAND_SZ naming a type of
#                   222 characters (the 3 s build): it stays so through setup
#                   and uninstall; before that uninstall,
#   busy-uninstall  the QuietUninstallString while another setup holds the
#                   mutex exits 2, changes no file (it leaves no folder of
#                   uninstall.exe behind), and the entry and the classes stay
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

setup_variant unchecked --define TEST_NO_CHECKS --define REGISTER_TIMEOUT_MS=5000 "$x64_dll" "$x86_dll"
setup_variant busy --define ONE_AT_A_TIME_MS=3000 "$x64_dll" "$x86_dll"
unchecked="$work/setup-unchecked/setup.exe"
busy="$work/setup-busy/setup.exe"

ansi_type=$'\u0417\u0432\u0443\u043a-\u0389\u03c7\u03bf\u03c2.WAV'
longest="$(printf 'L%.0s' {1..222})"
sound='HKCR\Sound.Recording'
policy='Software\Microsoft\Windows\CurrentVersion\Policies\Explorer'

# import LINE...: the lines of a .reg file, through regedit (reg add writes
# neither long values nor zero-length ones).
import() {
  local file="$work/import.reg"
  { printf 'Windows Registry Editor Version 5.00\r\n\r\n'; printf '%s\r\n' "$@"; } |
    iconv -f UTF-8 -t UTF-16 >"$file"
  timeout 30 "$wine64" regedit /S "$(winepath -w "$file")" >/dev/null 2>&1 || fail "regedit could not import $1"
}

# reset: the state a case set goes, with the holders (and so the access
# lists they changed), in one regedit run.
reset() {
  release_holders
  local lines=() key
  for key in .wav Sound.Recording WAV.File Sound.Kinds; do
    lines+=("[-HKEY_CLASSES_ROOT\\$key]" "")
  done
  for key in "HKEY_LOCAL_MACHINE\\$policy" "HKEY_LOCAL_MACHINE\\${policy/Software/Software\\Wow6432Node}" \
             "HKEY_CURRENT_USER\\$policy"; do
    lines+=("[$key]" '"EnforceShellExtensionSecurity"=-' "")
  done
  import "${lines[@]}"
}

# refusal CASE SETUP KEY...: the state that the commands before it set in the
# keys KEY... (as regedit writes them) is taken as "before": the snapshot
# after the last case, but for the keys that case and this one set; setup /S
# must be refused and change nothing; the checks refuse it before anything
# is registered (no regsvr32 runs, which a roll-back would hide), the build
# without them only after; then the state goes.
# The package in the next case: Refuse, RefuseBusy, write (see above), or
# none where another case shows the same.
package_mode=Refuse
refusal() {
  local case="$1" program="$2" keys trace="$work/$name-$1.trace" ran log
  shift 2
  step "$case"
  mapfile -t keys < <(printf '%s\n' "${last_keys[@]}" "$@" | grep -v '^$' | sort -u)
  snapshot_with "$work/$name-after" "$work/$name-before" "${keys[@]}"
  WINEDEBUG=-all,+loaddll refused "$program" "after setup refused in $case" 2>"$trace"
  ran="$(loaded "$trace" | grep -ci '\\regsvr32\.exe$')"
  if [ "$program" = "$unchecked" ]; then
    [ "$ran" != 0 ] || fail "$case: the build without the checks ran no regsvr32"
  else
    [ "$ran" = 0 ] || fail "$case: setup ran regsvr32 before it refused"
  fi
  # The package asks the same checks.
  if [ "$package_mode" != none ] && { [ "$program" = "$setup" ] || [ "$program" = "$busy" ]; }; then
    log="$name-$case-package"
    msiexec "$log" /i "$(winepath -w "$package")"
    if [ "$package_mode" = write ]; then
      # (Wine says 1627 where Windows says 1603.)
      [ "$code" = 1603 ] || [ "$code" = 1627 ] || fail "$case: the package exits with '$code', expected 1603"
      grep -aq "Action start [0-9:]*: InstallInitialize\." "$work/$log.log" ||
        fail "$case: the package stopped before InstallInitialize"
      ! grep -aq "Action start [0-9:]*: Refuse\." "$work/$log.log" || fail "$case: the package refused"
    else
      [ "$code" = 1603 ] || fail "$case: the package exits with '$code', expected 1603"
      refused_before_changes "$log" "$package_mode"
    fi
    [ ! -e "$(unix_path "$dir64")" ] || fail "$case: the package left $dir64"
  fi
  reset
  # Wine's installer leaves its bookkeeping keys of a failed installation:
  # the next case starts from them.
  [ "$package_mode" != write ] || snapshot "$work/$name-after"
  last_keys=("$@")
  package_mode=Refuse
}

new_prefix refusals
# The state reset leaves is the fresh one, policy keys included.
reset
snapshot "$work/$name-after"
user="$(grep -aom1 '^\[HKEY_USERS\\S-1-5-21-[^]\\]*' "$work/$name-after/registry.txt" | tr -d '[')"
wav='HKEY_LOCAL_MACHINE\Software\Classes\.wav'
recording='HKEY_LOCAL_MACHINE\Software\Classes\Sound.Recording'
machine_policy="HKEY_LOCAL_MACHINE\\$policy"
# (Wine shares this key between the registry views.)
machine_policy32="HKEY_LOCAL_MACHINE\\${policy/Software/Software\\Wow6432Node}"
user_policy="$user\\$policy"
last_keys=()

reg_add 'HKCR\.wav' /ve /d "$(printf 'L%.0s' {1..223})"
refusal long-type "$setup" "$wav"

import '[HKEY_CLASSES_ROOT\.wav]' "@=\"$(printf 'L%.0s' {1..1024})\""
refusal huge-type "$setup" "$wav"

reg_add 'HKCR\.wav' /ve /d "$ansi_type"
refusal ansi-type "$setup" "$wav"

reg_add 'HKCR\.wav' /ve /t REG_DWORD /d 7
refusal not-text "$setup" "$wav"

reg_add 'HKCR\.wav' /ve /d 'Sound\\Recording'
refusal empty-name "$setup" "$wav"

reg_add 'HKCR\.wav' /v 'Content Type' /d audio/wav
hold --deny 64 'HKCR\.wav'
package_mode=none # (denied-type and enforced-64 show it)
refusal denied-wav "$setup" "$wav"

reg_add 'HKCR\.wav' /ve /d Sound.Recording
reg_add "$sound" /ve /d 'Wave Sound'
hold --deny 64 "$sound"
package_mode=write
refusal denied-type "$setup" "$wav" "$recording"

reg_add "HKLM\\$policy" /v EnforceShellExtensionSecurity /t REG_DWORD /d 1 /reg:64
# KEY_READ | KEY_WRITE, which lacks WRITE_DAC, WRITE_OWNER and DELETE.
hold --acl 64 "$approved" 'D:P(A;;KRKW;;;WD)'
package_mode=write
refusal enforced-64 "$setup" "$machine_policy" "$machine_policy32"

reg_add "HKCU\\$policy" /v EnforceShellExtensionSecurity /t REG_DWORD /d 1
hold --deny 32 "$approved"
package_mode=none
refusal enforced-32 "$setup" "$user_policy"

variants_built
reg_add 'HKCR\.wav' /ve /d "$ansi_type"
refusal unchecked-ansi "$unchecked" "$wav"

hold --mutex "$mutex"
package_mode=RefuseBusy
refusal busy "$busy"

hold --foreign-mutex "$mutex"
package_mode=none # (busy shows it)
refusal foreign "$setup"

hold --event 'Global\Tolvane.Package'
package_mode=none
refusal package-running "$setup"

step "no-plugins-folder: no folder can be made in Program Files (x86) for NSIS's plug-ins"
programs="$WINEPREFIX/drive_c/Program Files (x86)"
mv "$programs" "$programs.aside" && : >"$programs"
WINEDEBUG=-all,+loaddll timeout 60 wine "$setup" /S </dev/null 2>"$work/$name-no-plugins.trace"
code=$?
rm -f "$programs" && mv "$programs.aside" "$programs"
# (A Unix exit status holds the exit code's low byte.)
[ "$code" = $((740 % 256)) ] || fail "setup /S without a plug-in folder exits with $code, expected 740 % 256"
check_loaded "$work/$name-no-plugins.trace" "setup /S without a plug-in folder" "$(winepath -w "$setup")"
! loaded "$work/$name-no-plugins.trace" | grep -qiE '\\(System|UserInfo)\.dll$' ||
  fail "setup /S without a plug-in folder loaded a plug-in"

step "lenient: what registration only reads, or makes keys below, and an approval no one enforces"
reg_add 'HKCR\.wav' /ve /d Sound.Recording
reg_add "$sound" /ve /d 'Wave Sound'
snapshot_with "$work/$name-after" "$work/$name-before" "$wav" "$recording"
# KEY_READ | KEY_CREATE_SUB_KEY: no KEY_SET_VALUE.
hold --deny 64 'HKCR\.wav' --acl 64 "$sound" 'D:P(A;;0x2001D;;;WD)' \
  --acl 64 "$approved" 'D:P(A;;KRKW;;;WD)' --deny 32 "$approved"
install
expect 64 "$sound\\shellex\\PropertySheetHandlers\\Tolvane" "" "$clsid"
expect_no_value 64 "$approved" "$clsid"
expect_no_value 32 "$approved" "$clsid"
check_page "$shell64" 64
release_holders
uninstall 0
restart
unchanged_by "setup and uninstall"
# (Not the type's key that lets one make keys alone: Wine's installer opens
# each key of a path it writes with all access, and fails there.)
step "lenient: the package with .wav and both approval keys as they were: no approval either"
hold --deny 64 'HKCR\.wav' --acl 64 "$approved" 'D:P(A;;KRKW;;;WD)' --deny 32 "$approved"
msiexec "$name-lenient-package" /i "$(winepath -w "$package")"
[ "$code" = 0 ] || fail "lenient: the package exits with '$code', expected 0"
expect 64 "$sound\\shellex\\PropertySheetHandlers\\Tolvane" "" "$clsid"
expect_no_value 64 "$approved" "$clsid"
expect_no_value 32 "$approved" "$clsid"
expect_no_value 64 'HKLM\Software\Tolvane\Package' Approval
expect_no_value 32 'HKLM\Software\Tolvane\Package' Approval
check_page "$shell64" 64
release_holders
msiexec "$name-lenient-package-remove" /x "$(winepath -w "$package")"
[ "$code" = 0 ] || fail "lenient: msiexec /x exits with '$code', expected 0"
unchanged_but_installer_keys "the package's install and uninstall"
reset

# passes CASE TITLE: the state the commands before it set is "before"; setup
# /S installs and the page appears in the 64-bit shell.
passes() {
  step "$1: $2"
  snapshot_with "$work/$name-after" "$work/$name-before" "${state_keys[@]}"
  install
  check_page "$shell64" 64
}
# as_before WHAT: after the uninstall and the restart all is as before setup;
# then the state goes.
as_before() {
  restart
  unchanged_by "$1"
  reset
}
# The keys that the states below set.
state_keys=("$wav" "$recording" "${wav%.wav}WAV.File" "${wav%.wav}Sound.Kinds")

passes other-program ".wav names no type; after setup another program adds to WAV.File"
player='{0B5C9D41-2E7A-4F3B-9C1D-6A8E5F4B3C2D}'
reg_add 'HKCR\WAV.File\shell\play\command' /ve /d 'player.exe "%1"'
reg_add 'HKCR\WAV.File\shellex\PropertySheetHandlers\Player' /ve /d "$player"
uninstall 0
kept=""
for key in .wav WAV.File; do
  rm -f "$work/$name-kept.reg"
  timeout 30 "$wine64" regedit /E "$(winepath -w "$work/$name-kept.reg")" "HKEY_CLASSES_ROOT\\$key" >/dev/null 2>&1
  [ -s "$work/$name-kept.reg" ] || continue
  registry_lines "$work/$name-kept.reg" "$work/$name-kept.txt"
  kept+="$(grep -a '^\[' "$work/$name-kept.txt")"$'\n'
done
kept="$(LC_ALL=C sort <<<"$kept" | grep -v '^$')"
expected="$(LC_ALL=C sort <<END
[HKEY_CLASSES_ROOT\\.wav]
[HKEY_CLASSES_ROOT\\.wav]	@="WAV.File"
[HKEY_CLASSES_ROOT\\WAV.File]
[HKEY_CLASSES_ROOT\\WAV.File\\shell]
[HKEY_CLASSES_ROOT\\WAV.File\\shell\\play]
[HKEY_CLASSES_ROOT\\WAV.File\\shell\\play\\command]
[HKEY_CLASSES_ROOT\\WAV.File\\shell\\play\\command]	@="player.exe \\"%1\\""
[HKEY_CLASSES_ROOT\\WAV.File\\shellex]
[HKEY_CLASSES_ROOT\\WAV.File\\shellex\\PropertySheetHandlers]
[HKEY_CLASSES_ROOT\\WAV.File\\shellex\\PropertySheetHandlers\\Player]
[HKEY_CLASSES_ROOT\\WAV.File\\shellex\\PropertySheetHandlers\\Player]	@="$player"
END
)"
[ "$kept" = "$expected" ] || fail "other-program: after the uninstall .wav and WAV.File hold:
$(changes <(echo "$expected") <(echo "$kept"))"
# The other program goes too: then nothing is left.
reset
as_before "setup, another program's additions and the uninstall"

import '[HKEY_CLASSES_ROOT\.wav]' '@="Sound.Kinds\\Wave\\Pcm"'
passes parent-keys '.wav names Sound.Kinds\Wave\Pcm, of which no key exists'
expect 64 'HKCR\Sound.Kinds\Wave\Pcm\shellex\PropertySheetHandlers\Tolvane' "" "$clsid"
uninstall 0
expect_no_key 64 'HKCR\Sound.Kinds'
as_before "setup and uninstall"

for kind in dword:4 binary:3; do
  type="${kind%:*}"
  import '[HKEY_CLASSES_ROOT\.wav]' "@=hex(${kind#*:}):"
  passes "zero-$type" ".wav's default value is a zero-length REG_${type^^}"
  expect 64 'HKCR\.wav' "" WAV.File
  expect 64 'HKCR\WAV.File\shellex\PropertySheetHandlers\Tolvane' "" "$clsid"
  uninstall 0
  as_before "setup and uninstall"
done

import '[HKEY_CLASSES_ROOT\.wav]' "@=\"$(printf ' %.0s' {1..1100})\""
passes blank-huge ".wav's default value is 1,100 blanks"
expect 64 'HKCR\WAV.File\shellex\PropertySheetHandlers\Tolvane' "" "$clsid"
uninstall 0
as_before "setup and uninstall"

step "longest: .wav's default value is a REG_EXPAND_SZ naming a type of 222 characters"
reg_add 'HKCR\.wav' /ve /t REG_EXPAND_SZ /d "$longest"
snapshot_with "$work/$name-after" "$work/$name-before" "$wav" "$recording"
install "$busy"
expect 64 'HKCR\.wav' "" "$longest" REG_EXPAND_SZ
# (Wine's shell shows no handler of a type whose name is that long.)
expect 64 "HKCR\\$longest\\shellex\\PropertySheetHandlers\\Tolvane" "" "$clsid"

step "busy-uninstall: the QuietUninstallString while another setup holds the mutex"
files_of_c >"$work/$name-installed.files"
hold --mutex "$mutex"
uninstall 2
release_holders
files_of_c >"$work/$name-refused.files"
changed="$(changes "$work/$name-installed.files" "$work/$name-refused.files")"
[ -z "$changed" ] || fail "the refused uninstall changed the files of drive C: $changed"
expect 64 "$arp" DisplayName Tolvane
expect 64 "HKCR\\CLSID\\$clsid" "" Fennrick
expect 32 "HKCR\\CLSID\\$clsid" "" Fennrick
uninstall 0
restart
unchanged_by "setup and uninstall"
done_with_prefix
finish
