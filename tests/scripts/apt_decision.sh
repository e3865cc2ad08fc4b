#!/usr/bin/env bash
# apt_decision.sh: what scripts/apt.sh decides after apt-get's outputs, from
# outputs apt-get gave (a mirror caught mid-sync, a package that is not there,
# any other failure).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/apt.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

synced='E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
   Hashes of expected file:
E: Some index files failed to download. They have been ignored, or old ones used instead.'
list='http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz'
broken=' libssl3:i386 : Depends: libssl3 (= 3.0.20-1~deb12u2) but 3.0.19-1~deb12u2 is to be installed
E: Unable to correct problems, you have held broken packages.'
missing='E: Unable to locate package wine32:i386'
other='E: Sub-process /usr/bin/dpkg returned an error code (1)'

# case TITLE UPDATE_OUTPUT INSTALL_RC INSTALL_OUTPUT TRIED_MAIN EXPECTED
case_() {
  printf '%s\n' "$2" >"$work/update"
  printf '%s\n' "$4" >"$work/install"
  local got
  got="$(apt_decision "$work/update" "$3" "$work/install" "$5")"
  [ "$got" = "$6" ] || fail "$1: '$got', expected '$6'"
}

case_ "installed" "$synced" 0 "" 0 done
case_ "a list missing, the architectures disagree" "$synced" 100 "$broken" 0 main-suite
case_ "the main suite disagrees too" "$synced" 100 "$broken" 1 \
  "fail: the packages cannot be installed while apt-get update cannot fetch $list (mirror sync in progress?); run apt-get update until it passes, then this command again"
case_ "no such package" "" 100 "$missing" 0 "fail: no package wine32:i386 in the machine's package lists"
case_ "no such package, a list missing" "$synced" 100 "$missing" 0 \
  "fail: no package wine32:i386: apt-get update could not fetch $list (mirror sync in progress?); run apt-get update until it passes, then this command again"
case_ "broken packages, every list there" "" 100 "$broken" 0 \
  "fail: apt-get install failed (exit code 100): Unable to correct problems, you have held broken packages."
case_ "another failure" "$synced" 100 "$other" 0 \
  "fail: apt-get install failed (exit code 100): Sub-process /usr/bin/dpkg returned an error code (1)"

[ "$status" = 0 ] && echo "apt decisions as expected"
exit "$status"
