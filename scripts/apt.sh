# scripts/apt.sh: installing Debian packages through a package mirror that
# may be in the middle of a sync. Sourced by scripts/setup and
# scripts/toolchain, and run in the ARM64 platform's chroot by
# scripts/arm64-platform.
#
#   apt_update LOG          apt-get update, its output in LOG. Never fails:
#                           a list it could not fetch is only named by
#                           apt_failed_lists LOG.
#   apt_failed_lists LOG    the lists apt-get update could not fetch, one
#                           address a line
#   apt_decision UPDATE_LOG INSTALL_RC INSTALL_LOG TRIED_MAIN
#                           what follows an apt-get install that returned
#                           INSTALL_RC with INSTALL_LOG (TRIED_MAIN 1 when it
#                           already took the main suite): "done",
#                           "main-suite" (again with -t CODENAME: a suite's
#                           list is missing, so the versions of the two
#                           architectures disagree), or "fail: LINE"
#   apt_install PACKAGE...  update and install, through apt_decision;
#                           prints one line and returns 1 where it fails
#
# A mirror caught mid-sync fails one list ("File has unexpected size ...
# Mirror sync in progress?"); apt then keeps the others. Packages of the
# architecture whose list is missing may then be found only at the main
# suite's versions while the machine's other architecture is at the
# security suite's, and Multi-Arch: same refuses the pair; taking both from
# the main suite (-t CODENAME) agrees. Any other failure stays one.

apt_failed_lists() {
  sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$1" | sort -u
}

apt_update() {
  apt-get update >"$1" 2>&1 || true
}

apt_decision() {
  local update_log="$1" rc="$2" install_log="$3" tried_main="$4" lists missing last
  [ "$rc" = 0 ] && { echo done; return; }
  lists="$(apt_failed_lists "$update_log" | paste -sd ' ')"
  missing="$(sed -n "s/^E: Unable to locate package \(.*\)/\1/p; s/^E: Package '\(.*\)' has no installation candidate/\1/p" \
    "$install_log" | paste -sd ' ')"
  if [ -n "$missing" ]; then
    if [ -n "$lists" ]; then
      echo "fail: no package $missing: apt-get update could not fetch $lists (mirror sync in progress?); run apt-get update until it passes, then this command again"
    else
      echo "fail: no package $missing in the machine's package lists"
    fi
    return
  fi
  if [ -n "$lists" ] && grep -qE "held broken packages|unmet dependencies" "$install_log"; then
    if [ "$tried_main" = 1 ]; then
      echo "fail: the packages cannot be installed while apt-get update cannot fetch $lists (mirror sync in progress?); run apt-get update until it passes, then this command again"
    else
      echo main-suite
    fi
    return
  fi
  last="$(grep '^E: ' "$install_log" | tail -1)"
  echo "fail: apt-get install failed (exit code $rc)${last:+: ${last#E: }}"
}

apt_install() {
  local work codename decision rc tried_main=0
  work="$(mktemp -d)"
  apt_update "$work/update"
  local -a target=()
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  while :; do
    rc=0
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${target[@]}" "$@" \
      >"$work/install" 2>&1 || rc=$?
    decision="$(apt_decision "$work/update" "$rc" "$work/install" "$tried_main")"
    case "$decision" in
      done)
        [ "$tried_main" = 0 ] ||
          echo "apt: installed from $codename's main suite, as apt-get update could not fetch $(apt_failed_lists "$work/update" | paste -sd ' '); apt-get update && apt-get upgrade later brings the updates" >&2
        rm -rf "$work"
        return 0 ;;
      main-suite)
        [ -n "$codename" ] || { decision="fail: no VERSION_CODENAME in /etc/os-release"; break; }
        target=(-t "$codename")
        tried_main=1 ;;
      *) break ;;
    esac
  done
  tail -n 20 "$work/install" >&2
  echo "apt: ${decision#fail: }" >&2
  rm -rf "$work"
  return 1
}
