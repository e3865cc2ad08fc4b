#!/usr/bin/env bash
# check_packages.sh DIST
# The Windows Installer packages of a release, read with msiinfo, for each
# architecture (x86, x64, arm64):
#   summary     its platform (Template), installer version 500, compressed,
#               the fixed times of a reproducible build
#   product     ProductVersion from the modules' version (the last two fields
#               share the third), the upgrade code of every package, no
#               Restart Manager shutdown and no restart of its own
#   components  attributes and conditions: the 64-bit ones in the 64-bit
#               packages, the approval of each view only where the module
#               would write it, the permanent .wav value and its record only
#               where the package writes it, the 32-bit module in the 64-bit
#               ones
#   files       each module with its version (so that a later one replaces
#               it) and no hash, and the same bytes as the release's module
#   sequence    the custom actions and their places: the plan and the
#               refusals before costing, the old product removed before
#               anything is installed, .wav's value after the registry rows
#               (and back in a rollback)
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
  for line in "Template: $template" "Version: 500 (1f4)" "Source: 2 (2)" \
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
Approval$tab$((bits + 4))${tab}TOLVANE_APPROVAL
Shared$tab$((bits + 4))$tab
WavDefault$tab$((bits + 20))${tab}TOLVANE_WAV_DEFAULT
WavDefaultRecord$tab$((bits + 4))${tab}TOLVANE_WAV_DEFAULT"
  [ "$arch" = x86 ] || want+=$'\n'"Module32${tab}0$tab"$'\n'"Approval32${tab}4${tab}TOLVANE_APPROVAL32"
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

  same "$arch custom actions" "$(rows "$package" CustomAction | cut -f1,2,4)" \
"PlanPackage${tab}1${tab}PlanPackage
Refuse${tab}19$tab[TOLVANE_REFUSAL]
RefuseDowngrade${tab}19${tab}A later version of Tolvane is installed. This package does not replace it with an earlier one: remove that version first.
RemoveWavDefault${tab}3073${tab}RemoveWavDefault
RemoveWavDefaultData${tab}2099$tab[TOLVANE_RECORDED_WAV_DEFAULT]
RestoreWavDefault${tab}3393${tab}RestoreWavDefault
RestoreWavDefaultData${tab}2099$tab[TOLVANE_RECORDED_WAV_DEFAULT]"
  sequence="$(rows "$package" InstallExecuteSequence | awk -F'\t' '{ print $3 "\t" $1 "\t" $2 }' | sort -n)"
  want="25${tab}FindRelatedProducts$tab
29${tab}PlanPackage$tab
30${tab}RefuseDowngrade${tab}TOLVANE_LATER AND NOT Installed
31${tab}Refuse${tab}TOLVANE_REFUSAL AND NOT Installed"
  [ "$arch" = x86 ] && want+=$'\n'"100${tab}LaunchConditions$tab"
  want+="
1000${tab}CostFinalize$tab
1400${tab}InstallValidate$tab
1401${tab}RemoveExistingProducts$tab
1500${tab}InstallInitialize$tab
2600${tab}RemoveRegistryValues$tab
2601${tab}RemoveWavDefaultData${tab}REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE AND TOLVANE_RECORDED_WAV_DEFAULT
2602${tab}RestoreWavDefaultData${tab}REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE AND TOLVANE_RECORDED_WAV_DEFAULT
2603${tab}RestoreWavDefault${tab}REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE AND TOLVANE_RECORDED_WAV_DEFAULT
2604${tab}RemoveWavDefault${tab}REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE AND TOLVANE_RECORDED_WAV_DEFAULT
4000${tab}InstallFiles$tab
5000${tab}WriteRegistryValues$tab"
  same "$arch execute sequence" "$(grep -E $'\t(FindRelatedProducts|PlanPackage|Refuse|RefuseDowngrade|LaunchConditions|CostFinalize|InstallValidate|RemoveExistingProducts|InstallInitialize|RemoveRegistryValues|RemoveWavDefault|RemoveWavDefaultData|RestoreWavDefault|RestoreWavDefaultData|InstallFiles|WriteRegistryValues)\t' <<<"$sequence")" "$want"

  msiinfo extract "$package" Binary.Checks >"$work/$arch/checks.dll"
  "$root/installer/package/build.sh" "$arch" "$dist/$native/PELLMORE.DLL" "$dist/x86/PELLMORE.DLL" \
    "$work/$arch/checks.dll" "$work/$arch/rebuilt.msi" || fail "$arch: could not build it again"
  cmp -s "$package" "$work/$arch/rebuilt.msi" || fail "$arch: built again from the same inputs, it differs"
done

[ "$status" = 0 ] && echo "packages: tables, versions and rebuilds as expected"
exit "$status"
