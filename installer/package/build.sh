#!/usr/bin/env bash
# installer/package/build.sh ARCH NATIVE_DLL X86_DLL CHECKS_DLL PACKAGE.msi
#   Builds the Windows Installer package of one architecture (x86, x64 or
#   arm64) from installer/package/tolvane.wxs: NATIVE_DLL is the module of
#   that architecture, X86_DLL the 32-bit one the 64-bit packages carry too
#   (ignored for x86), CHECKS_DLL the custom actions of that architecture
#   (installer/checks). The version is the modules' own (their version
#   resource, which must agree); the package is the same bytes for the same
#   inputs. With TOLVANE_SIGN_CERT and TOLVANE_SIGN_KEY set it is signed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root/installer/product.sh"
usage() { echo "usage: installer/package/build.sh x86|x64|arm64 NATIVE_DLL X86_DLL CHECKS_DLL PACKAGE.msi" >&2; exit 2; }
[ $# = 5 ] || usage
arch="$1" native="$2" x86="$3" checks="$4" out="$(realpath -m "$5")"
# The Windows Installer a package needs: 4.0 (Windows Vista's, the module's
# floor) where the architecture allows, 5.0 for ARM64 (Windows 10 and later).
installer_version=400
case "$arch" in
  x86) template="Intel;1033" ;;
  x64) template="x64;1033" ;;
  arm64) template="Arm64;1033" installer_version=500 ;;
  *) usage ;;
esac

# file_version DLL: the file version of the module's fixed version
# information (VS_FIXEDFILEINFO, after its signature 0xFEEF04BD).
file_version() {
  local at words
  at="$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -1 | cut -d: -f1)"
  [ -n "$at" ] || { echo "package: no version resource in $1" >&2; return 1; }
  read -r -a words < <(od -An -tu2 -j $((at + 8)) -N 8 "$1")
  echo "${words[1]}.${words[0]}.${words[3]}.${words[2]}"
}
modules=("$native")
[ "$arch" = x86 ] || modules+=("$x86")
version="$(file_version "$native")"
for module in "${modules[@]}"; do
  [ "$(file_version "$module")" = "$version" ] ||
    { echo "package: $module has version $(file_version "$module"), not $version" >&2; exit 1; }
done
msi_version="$(msi_version "$version")"
publisher="$(rc_value CompanyName)"
upgrade_code="$(upgrade_code)"
[ -n "$publisher" ] && [ -n "$upgrade_code" ] || { echo "package: no publisher or upgrade code" >&2; exit 1; }

# guid TEXT: a GUID named by TEXT (a name-based one of SHA-256). Components
# keep theirs across versions (named by architecture and component); the
# product and package codes are named by everything that goes in (below).
guid() {
  local h
  h="$(printf '%s' "$1" | sha256sum | tr a-f A-F)"
  echo "{${h:0:8}-${h:8:4}-5${h:13:3}-8${h:17:3}-${h:20:12}}"
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$native" "$work/native.dll"
cp "$x86" "$work/x86.dll"
cp "$checks" "$work/checks.dll"
# The cabinet keeps the files' times.
touch -d '2000-01-01 00:00:00 UTC' "$work/native.dll" "$work/x86.dll" "$work/checks.dll"
if [ -n "${TOLVANE_SIGN_CERT:-}" ] && [ -n "${TOLVANE_SIGN_KEY:-}" ]; then
  "$root/installer/sign.sh" "$work/checks.dll"
fi
# wixl knows no ARM64: the arm64 package is built as an x64 one and its
# template set below.
wixl_arch=x64
[ "$arch" = x86 ] && wixl_arch=x86
# The registry rows, from the module's own tables (a program of the build
# machine, built from the module's portable sources).
c++ -std=c++17 -Wall -Wextra -Werror -I "$root/comserver" -I "$root/extension" \
  -o "$work/registry_rows" "$root/installer/package/registry_rows.cpp" \
  "$root/comserver/class_entries.cpp" "$root/extension/shell_entries.cpp"
"$work/registry_rows" "$work"
# Everything that goes into the package, as it goes in (the checks DLL
# signed or not), and the tools that put it together: the same inputs give
# the same package, any other content another product.
packed=("$work/native.dll" "$work/checks.dll")
[ "$arch" = x86 ] || packed+=("$work/x86.dll")
inputs="$(cat "${BASH_SOURCE[0]}" "$root/installer/package/tolvane.wxs" "$work"/*.wxi "${packed[@]}" |
  sha256sum)"
tools="$(dpkg-query -W -f='${Package} ${Version}\n' wixl msitools gcab 2>/dev/null | LC_ALL=C sort)"
inputs="$arch $version ${inputs%% *} $(printf '%s' "$tools" | sha256sum | cut -c1-64)"
# wixl takes the files by names relative to the folder it runs in.
cd "$work"
wixl -a "$wixl_arch" -I "$work" -D Arch="$arch" -D Version="$version" -D MsiVersion="$msi_version" \
  -D ModuleFile="$(identity MODULE_NAME).DLL" \
  -D Publisher="$publisher" -D UpgradeCode="$upgrade_code" \
  -D ProductCode="$(guid "product $inputs")" \
  -D ModuleGuid="$(guid "component $arch Module")" -D SharedGuid="$(guid "component $arch Shared")" \
  -D WavDefaultGuid="$(guid "component $arch WavDefault")" \
  -D WavDefaultRecordGuid="$(guid "component $arch WavDefaultRecord")" \
  -D Module32Guid="$(guid "component $arch Module32")" -D InstallerVersion="$installer_version" \
  -D NativeDll=native.dll -D X86Dll=x86.dll -D ChecksDll=checks.dll \
  -o wixl.msi "$root/installer/package/tolvane.wxs"

# wixl's database differs from build to build (the order of its strings, a
# random package code, the time): its tables are taken out and put into a
# new database in a fixed order, with a summary of fixed values.
mkdir "$work/tables"
cd "$work/tables"
for table in $(msiinfo tables ../wixl.msi | LC_ALL=C sort); do
  case "$table" in _*) continue ;; esac
  msiinfo export ../wixl.msi "$table" >"$table.idt"
done
msiinfo extract ../wixl.msi tolvane.cab >tolvane.cab
{
  printf 'PropertyId\tValue\ni2\tl255\n_SummaryInformation\tPropertyId\n'
  printf '1\t1252\n2\tInstallation Database\n3\tTolvane %s\n4\t%s\n5\tInstaller\n' "$version" "$publisher"
  printf '6\tThe Information page of .wav files in their Properties\n7\t%s\n' "$template"
  printf '9\t%s\n' "$(guid "package $inputs")"
  printf '12\t2000/01/01 00:00:00\n13\t2000/01/01 00:00:00\n14\t%s\n15\t2\n18\tTolvane\n19\t2\n' \
    "$installer_version"
} >_SummaryInformation.idt

# msidbComponentAttributesRegistryKeyPath (4) | Permanent (16), and 64-bit
# (256) in the 64-bit packages.
permanent_attributes=20
[ "$arch" = x86 ] || permanent_attributes=276
# What wixl cannot write: the inclusive maximum of the upgrade, the
# rollback custom actions, the refusals (error custom actions, type 19,
# whose text the log and a shown installation give, ending it with 1603),
# the components' conditions and the permanent one, and the modules'
# versions (a versioned file has no hash).
queries=(
  "INSERT INTO CustomAction (Action, Type, Target) VALUES ('Refuse', 19, '[TolvaneRefusal]')"
  "INSERT INTO CustomAction (Action, Type, Target) VALUES ('RefuseBusy', 19, '[TolvaneBusy]')"
  "INSERT INTO CustomAction (Action, Type, Target) VALUES ('RefuseDowngrade', 19, 'A later version of Tolvane is installed. This package does not replace it with an earlier one: remove that version first.')"
  "UPDATE Component SET Condition = 'TolvaneWavDefault' WHERE Component = 'WavDefault'"
  "UPDATE Component SET Condition = 'TolvaneWavRecord' WHERE Component = 'WavDefaultRecord'"
  "UPDATE Component SET Attributes = $permanent_attributes WHERE Component = 'WavDefault'"
  # Every earlier version and this one (a rebuild with other bytes is
  # another product): VersionMinInclusive | VersionMaxInclusive.
  # (Attributes is part of the table's key: the row is made anew.)
  "DELETE FROM Upgrade WHERE ActionProperty = 'TOLVANE_EARLIER'"
  "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) VALUES ('$upgrade_code', '0.0.0', '$msi_version', 768, 'TOLVANE_EARLIER')"
)
for sequence in InstallUISequence InstallExecuteSequence; do
  queries+=(
    "INSERT INTO $sequence (Action, Condition, Sequence) VALUES ('RefuseDowngrade', 'TOLVANE_LATER AND NOT Installed', 30)"
    "INSERT INTO $sequence (Action, Condition, Sequence) VALUES ('Refuse', 'TolvaneRefusal AND NOT Installed', 31)"
  )
done
# The lock is taken by the execute sequence alone, and refuses every
# installation, repair and uninstall while another one holds it.
queries+=("INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('RefuseBusy', 'TolvaneBusy', 32)")
# wixl writes rollback actions as immediate ones: a DLL from the Binary
# table (1), its result ignored (64), in the rollback script (1280), with
# the installer's rights (2048).
for action in UndoApprovals RestoreMachineEntries; do
  queries+=("UPDATE CustomAction SET Type = 3393 WHERE Action = '$action'")
done
# wixl marks every action as run with the installer's rights (2048), which
# means nothing but for deferred ones: the immediate actions run as the
# installing user, the data of the deferred ones is a property (51).
queries+=("UPDATE CustomAction SET Type = 1 WHERE Type = 2049"
          "UPDATE CustomAction SET Type = 65 WHERE Type = 2113"
          "UPDATE CustomAction SET Type = 51 WHERE Type = 2099")
for file in Module Module32; do
  queries+=(
    "UPDATE File SET Version = '$version', Language = '1033' WHERE File = '$file'"
    "DELETE FROM MsiFileHash WHERE File_ = '$file'"
  )
done
args=()
for query in "${queries[@]}"; do args+=(-q "$query"); done
rm -f "$work/package.msi"
msibuild "$work/package.msi" -i _SummaryInformation.idt $(ls [A-Z]*.idt | LC_ALL=C sort) \
  -a tolvane.cab tolvane.cab "${args[@]}"
cd "$root"
if [ -n "${TOLVANE_SIGN_CERT:-}" ] && [ -n "${TOLVANE_SIGN_KEY:-}" ]; then
  "$root/installer/sign.sh" "$work/package.msi"
fi
mkdir -p "$(dirname "$out")"
mv "$work/package.msi" "$out"
