#!/usr/bin/env bash
# check_packages.sh DIST
# The Windows Installer packages of a release, read with msiinfo, for each
# architecture (x86, x64, arm64): what Windows Installer and an
# administrator notice.
#   summary     its platform (Template), the Windows Installer it needs (4.0,
#               Vista's, for x86 and x64; 5.0 for ARM64), compressed, the
#               fixed times of a reproducible build
#   product     ProductVersion from the modules' version (the last two fields
#               share the third), the upgrade code of every package, no
#               Restart Manager shutdown and no restart of its own
#   components  the 64-bit ones in the 64-bit packages, the permanent .wav
#               value and its record only where the package decides so, the
#               32-bit module in the 64-bit ones
#   files       each module with its version (so that a later one replaces
#               it) and no hash, and the same bytes as the release's module
#   sequence    the order Windows Installer runs things in: the plan, the
#               lock and the refusals before costing, the folders checked
#               after it, the earlier version removed inside this
#               installation's transaction, .wav's value and the approvals
#               taken back after the rows went (on every uninstall) and
#               written after them, each rollback before its action, the
#               deferred actions as the installer service, the shell told
#               at the end
#   rebuilt     built again from the same inputs: the same bytes
set -uo pipefail
if [ $# -ne 1 ]; then
  echo "usage: check_packages.sh DIST" >&2
  exit 2
fi
dist="$(realpath "$1")"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root/tests/lib.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

source "$root/installer/product.sh"
version="$(rc_value ProductVersion)"
msi_version="$(msi_version "$version")"
upgrade_code="$(upgrade_code)"

# rows PACKAGE TABLE: the table's rows, sorted, without its three head lines.
rows() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4 | LC_ALL=C sort; }
# same WHAT GOT WANT
same() { [ "$2" = "$3" ] || fail "$1:
got:
$2
expected:
$3"; }

tab=$'\t'
for arch in x86 x64 arm64; do
  package="$dist/tolvane-$version-$arch.msi"
  echo "== $arch: $(basename "$package")"
  [ -f "$package" ] || { fail "$package is missing"; continue; }
  case "$arch" in
    x86) template="Intel;1033" bits=0 native=x86 ;;
    x64) template="x64;1033" bits=256 native=x64 ;;
    arm64) template="Arm64;1033" bits=256 native=arm64 ;;
  esac

  summary="$(msiinfo suminfo "$package")"
  installer="400 (190)"
  [ "$arch" = arm64 ] && installer="500 (1f4)"
  for line in "Template: $template" "Version: $installer" "Source: 2 (2)" \
              "Created: Sat Jan  1 00:00:00 2000" "Last saved: Sat Jan  1 00:00:00 2000"; do
    grep -qxF "$line" <<<"$summary" || fail "$arch summary: no '$line' in
$summary"
  done

  properties="$(rows "$package" Property)"
  for line in "ProductVersion$tab$msi_version" "UpgradeCode$tab$upgrade_code" \
              "MSIRESTARTMANAGERCONTROL${tab}Disable" "REBOOT${tab}ReallySuppress" "ALLUSERS${tab}1"; do
    grep -qxF "$line" <<<"$properties" || fail "$arch: no property '$line'"
  done

  components="$(rows "$package" Component | cut -f1,4,5)"
  want="Module$tab$bits$tab
Shared$tab$((bits + 4))$tab
WavDefault$tab$((bits + 20))${tab}TolvaneWavDefault
WavDefaultRecord$tab$((bits + 4))${tab}TolvaneWavRecord"
  [ "$arch" = x86 ] || want+=$'\n'"Module32${tab}0$tab"
  same "$arch components" "$components" "$(LC_ALL=C sort <<<"$want")"

  files="$(rows "$package" File | cut -f1,5,6)"
  want="Module$tab$version${tab}1033"
  [ "$arch" = x86 ] || want+=$'\n'"Module32$tab$version${tab}1033"
  same "$arch files" "$files" "$(LC_ALL=C sort <<<"$want")"
  same "$arch file hashes" "$(rows "$package" MsiFileHash)" ""
  mkdir -p "$work/$arch"
  (cd "$work/$arch" && msiinfo extract "$package" tolvane.cab >tolvane.cab &&
     gcab -x tolvane.cab >/dev/null 2>&1) || fail "$arch: could not unpack its cabinet"
  cmp -s "$work/$arch/Module" "$dist/$native/PELLMORE.DLL" || fail "$arch: its module is not $native/PELLMORE.DLL"
  [ "$arch" = x86 ] || cmp -s "$work/$arch/Module32" "$dist/x86/PELLMORE.DLL" ||
    fail "$arch: its 32-bit module is not x86/PELLMORE.DLL"

  # The actions in the order they run, with their conditions and how: "x"
  # immediate, "d" deferred and "r" rollback, as the installer service.
  declare -A kind=()
  while IFS="$tab" read -r action type _; do
    if ((type & 256)); then kind[$action]=r; elif ((type & 1024)); then kind[$action]=d; else kind[$action]=x; fi
    ((type & (256 | 1024))) && ! ((type & 2048)) && kind[$action]+="-as-user"
  done < <(rows "$package" CustomAction)
  order="$(rows "$package" InstallExecuteSequence | sort -t"$tab" -k3,3n |
    awk -F'\t' '{ print $1 "\t" ($2 == "" ? "-" : $2) }' | while IFS="$tab" read -r action condition; do
    [ "$condition" = - ] && condition=""
    [[ "$action" =~ ^(PlanPackage|LockPackage|Refuse.*|CostInitialize|CostFinalize|CheckFolders|InstallValidate|InstallInitialize|RemoveExistingProducts|ProcessComponents|RemoveRegistryValues|TakeBack.*|Restore.*|WriteRegistryValues|.*Approvals.*|InstallFinalize|NotifyAssociations)$ ]] &&
      echo "$action${kind[$action]:+ ${kind[$action]}}${condition:+ [$condition]}"
  done)"
  same "$arch execute sequence" "$order" "PlanPackage x
LockPackage x [NOT Installed]
RefuseDowngrade x [TOLVANE_LATER AND NOT Installed]
Refuse x [TolvaneRefusal AND NOT Installed]
RefuseBusy x [TolvaneBusy]
CostInitialize
CostFinalize
CheckFolders x
InstallValidate
InstallInitialize
RemoveExistingProducts
ProcessComponents
RemoveRegistryValues
TakeBackData x [REMOVE=\"ALL\"]
RestoreData x [REMOVE=\"ALL\"]
RestoreMachineEntries r [REMOVE=\"ALL\"]
TakeBackMachineEntries d [REMOVE=\"ALL\"]
WriteRegistryValues
WriteApprovalsData x [NOT REMOVE=\"ALL\"]
UndoApprovalsData x [NOT REMOVE=\"ALL\"]
UndoApprovals r [NOT REMOVE=\"ALL\"]
WriteApprovals d [NOT REMOVE=\"ALL\"]
InstallFinalize
NotifyAssociations x"

  msiinfo extract "$package" Binary.Checks >"$work/$arch/checks.dll"
  "$root/installer/package/build.sh" "$arch" "$dist/$native/PELLMORE.DLL" "$dist/x86/PELLMORE.DLL" \
    "$work/$arch/checks.dll" "$work/$arch/rebuilt.msi" || fail "$arch: could not build it again"
  cmp -s "$package" "$work/$arch/rebuilt.msi" || fail "$arch: built again from the same inputs, it differs"
done

[ "$status" = 0 ] && echo "packages: tables, versions and rebuilds as expected"
exit "$status"
