#!/usr/bin/env bash
# refusals.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# Registry states and moments in which setup /S cannot do its work: each
# setup exits 2 within a minute and leaves the registry and the files as
# they were. One 64-bit Wine prefix under WORK_DIR (see lib.sh) takes them
# in turn; each state goes again after its case, Wine's server with it
# (which forgets key access lists):
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

# refusal CASE SETUP: the state that the commands before it set is taken
# as "before"; setup /S must be refused and change nothing; then the state
# goes.
refusal() {
  step "$1"
  snapshot "$work/$name-before"
  refused "$2" "after setup refused in $1"
  release_holders
  wineserver -k 2>/dev/null
  timeout 30 wine reg delete 'HKCR\.wav' /f >/dev/null 2>&1
}

new_prefix refusals
reg_add 'HKCR\.wav' /ve /d "$(printf 'L%.0s' {1..300})"
refusal long-type "$setup"

reg_add 'HKCR\.wav' /v 'Content Type' /d audio/wav
hold --deny 64 'HKCR\.wav'
refusal denied-wav "$setup"

hold --deny 64 "$approved"
refusal denied-64 "$setup"

hold --deny 32 "$approved"
refusal denied-32 "$setup"

reg_add 'HKCR\.wav' /v 'Content Type' /d audio/wav
hold --deny 64 'HKCR\.wav'
refusal hung "$work/setup-hung/setup.exe"

hold --mutex "$mutex"
refusal busy "$work/setup-busy/setup.exe"

step "expand: .wav's default value is a REG_EXPAND_SZ naming WAV.File"
name=expand
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
