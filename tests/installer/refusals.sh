#!/usr/bin/env bash
# refusals.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# Registry states and moments in which setup /S cannot do its work: each
# setup exits 2 within a minute and leaves the registry and the files as
# they were, each in a 64-bit Wine prefix of its own under WORK_DIR (see
# lib.sh):
#   long-type      .wav names a file type of 300 characters (no key name)
#   denied-wav     HKCR\.wav cannot be written
#   denied-64      the approval key cannot be written, in the 64-bit view
#   denied-32      the same in the 32-bit view
#   hung           HKCR\.wav cannot be written and setup does not check it
#                  first (a build without the checks, registrations ended
#                  after 5 s): the module waits on its message box, setup
#                  ends regsvr32 and rolls back
#   busy           another setup holds the mutex (a build that waits 3 s)
# and one that works:
#   expand         .wav's default value is a REG_EXPAND_SZ naming the file
#                  type: it stays so through setup and uninstall.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

setup_variant hung --define TEST_NO_CHECKS --define REGISTER_TIMEOUT_MS=5000 "$x64_dll" "$x86_dll"
setup_variant busy --define ONE_AT_A_TIME_MS=3000 "$x64_dll" "$x86_dll"

# refusal NAME SETUP: a fresh prefix, the state the caller sets in it (the
# commands that follow, until "refused_now"), then setup /S refused.
refusal() { new_prefix "$1"; refusal_setup="$2"; step "$name"; }
refused_now() {
  snapshot "$work/$name-before"
  refused "$refusal_setup" "after setup refused in $name"
  release_holders
  done_with_prefix
}

refusal long-type "$setup"
reg_add 'HKCR\.wav' /ve /d "$(printf 'L%.0s' {1..300})"
refused_now

refusal denied-wav "$setup"
reg_add 'HKCR\.wav' /v 'Content Type' /d audio/wav
hold --deny 64 'HKCR\.wav'
refused_now

refusal denied-64 "$setup"
hold --deny 64 "$approved"
refused_now

refusal denied-32 "$setup"
hold --deny 32 "$approved"
refused_now

refusal hung "$work/setup-hung/setup.exe"
reg_add 'HKCR\.wav' /v 'Content Type' /d audio/wav
hold --deny 64 'HKCR\.wav'
refused_now

refusal busy "$work/setup-busy/setup.exe"
hold --mutex "$mutex"
refused_now

new_prefix expand
step "$name: .wav's default value is a REG_EXPAND_SZ naming WAV.File"
reg_add 'HKCR\.wav' /ve /t REG_EXPAND_SZ /d WAV.File
snapshot "$work/$name-before"
install
expect 64 'HKCR\.wav' "" WAV.File REG_EXPAND_SZ
check_page "$shell64" 64
uninstall 0
restart
unchanged_by "setup and uninstall"
done_with_prefix
finish
