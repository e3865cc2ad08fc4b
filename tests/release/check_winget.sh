#!/usr/bin/env bash
# check_winget.sh DIST
# scripts/winget-manifests on the release: the three manifests parse and
# name setup for every architecture and each package for its own, with URL,
# hash, product and upgrade codes and what winget must know (scope, elevation,
# upgrade, no install folder, setup's exit codes); a release whose files do
# not match SHA256SUMS gets none.
set -uo pipefail
if [ $# -ne 1 ]; then
  echo "usage: check_winget.sh DIST" >&2
  exit 2
fi
dist="$(realpath "$1")"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root/tests/lib.sh"
source "$root/installer/product.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
version="$(rc_value ProductVersion)"
url="https://downloads.example/tolvane/$version"

folder="$("$root/scripts/winget-manifests" "$dist" "$url/" "$work/out")" || fail "no manifests"
# The facts, from the files: name, hash and product code of each installer.
facts="$work/facts"
for file in $(awk '{ print $2 }' "$dist/SHA256SUMS" | tr -d '*' | grep -v PELLMORE); do
  code=-
  if [[ "$file" == *.msi ]]; then
    code="$(msiinfo export "$dist/$file" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')"
    # Bit 8 of the word count (msiinfo's "Source"): no elevation asked.
    words="$(msiinfo suminfo "$dist/$file" | sed -n 's/^Source: \([0-9]*\) .*/\1/p')"
    [ -n "$words" ] && ((!(words & 8))) || fail "$file installs without elevation"
  fi
  echo "$file $(sha256sum "$dist/$file" | awk '{ print toupper($1) }') $code" >>"$facts"
done
grep -qa requireAdministrator "$dist/tolvane-$version-setup.exe" || fail "setup does not ask for elevation"

python3 - "$folder" "$facts" "$url" "$version" "$(msi_version "$version")" "$(upgrade_code)" \
  "$(sed -n 's/.*assemblyIdentity name="\([^"]*\)".*/\1/p' "$root/extension/tolvane.manifest.in")" \
  "$(rc_value CompanyName)" "$(rc_value ProductName)" <<'EOF' || fail "the manifests do not hold the release"
import sys, yaml
folder, facts, url, version, msi_version, upgrade, ident, publisher, name = sys.argv[1:]
errors = []
def want(what, got, expected):
    if got != expected: errors.append(f"{what}: {got!r}, expected {expected!r}")
files = {file: (sha, code) for file, sha, code in (line.split() for line in open(facts))}
docs = {kind: yaml.safe_load(open(f"{folder}/{ident}{suffix}.yaml"))
        for kind, suffix in [("version", ""), ("defaultLocale", ".locale.en-US"), ("installer", ".installer")]}
for kind, doc in docs.items():
    for key, value in [("ManifestType", kind), ("ManifestVersion", "1.10.0"), ("PackageIdentifier", ident), ("PackageVersion", version)]:
        want(f"{kind} {key}", doc.get(key), value)
want("DefaultLocale", docs["version"].get("DefaultLocale"), "en-US")
locale = docs["defaultLocale"]
for key, value in [("Publisher", publisher), ("PackageName", name), ("License", "Proprietary")]: want(key, locale.get(key), value)
want("tags", sorted(locale.get("Tags", [])), ["shell-extension", "wav"])
want("descriptions", all(locale.get(k) for k in ("ShortDescription", "Description")), True)
root = docs["installer"]
for entry in root["Installers"]:
    entry = {**{k: v for k, v in root.items() if k != "Installers"}, **entry}
    arch, kind = entry["Architecture"], entry["InstallerType"]
    file = f"tolvane-{version}-setup.exe" if kind == "nullsoft" else f"tolvane-{version}-{arch}.msi"
    sha, code = files.get(file, ("missing", "missing"))
    for key, value in [("InstallerUrl", f"{url}/{file}"), ("InstallerSha256", sha), ("Scope", "machine"),
                       ("ElevationRequirement", "elevatesSelf"), ("UpgradeBehavior", "install"),
                       ("UnsupportedArguments", ["location"]), ("InstallerSwitches", None),
                       ("ProductCode", name if kind == "nullsoft" else code)]:
        want(f"{arch} {kind} {key}", entry.get(key), value)
    if kind == "nullsoft":
        want(f"{arch} setup's return codes", {c["InstallerReturnCode"]: c["ReturnResponse"] for c in entry["ExpectedReturnCodes"]},
             {2: "custom", 740: "blockedByPolicy", 1150: "systemNotSupported"})
    else:
        want(f"{arch} msi refuses", entry.get("UnsupportedOSArchitectures"), {"x86": ["x64", "arm64"], "x64": ["arm64"]}.get(arch))
        want(f"{arch} msi entries", entry.get("AppsAndFeaturesEntries"),
             [{"DisplayVersion": msi_version, "ProductCode": code, "UpgradeCode": upgrade}])
want("installers", sorted((i["Architecture"], i["InstallerType"]) for i in root["Installers"]),
     sorted((a, k) for a in ("x86", "x64", "arm64") for k in ("nullsoft", "msi")))
want("files named", {i["InstallerUrl"].rsplit("/", 1)[1] for i in root["Installers"]}, set(files))
sys.exit("\n".join(errors) or None)
EOF

# A release file that is not the one SHA256SUMS names gets no manifests.
cp -r "$dist" "$work/changed"
echo >>"$work/changed/tolvane-$version-setup.exe"
! "$root/scripts/winget-manifests" "$work/changed" "$url" "$work/bad" >/dev/null 2>&1 ||
  fail "manifests for a release that does not match SHA256SUMS"

[ "$status" = 0 ] && echo "winget: manifests as the release's files are"
exit "$status"
