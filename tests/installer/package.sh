#!/usr/bin/env bash
# package.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# The Windows Installer packages of DIST_DIR as administrators deploy them
# (msiexec from a batch file, which gives the whole exit code), the x64 one
# in 64-bit Wine prefixes under WORK_DIR (see lib.sh), the x86 one in a
# 32-bit prefix:
#   fresh     .wav's value an empty text (no type); /qn: 0; both modules,
#             the class in both views, the ProgID,
#             WAV.File hooked and named by .wav, the approval in both
#             views; the page in the 64-bit and the 32-bit shell. Repair
#             (REINSTALL=ALL) after the 64-bit module and the handler key
#             were deleted: both back, the page again. A package of the same
#             version with other bytes upgrades it (one product left, the
#             page). /x: 0, the registry of both views (the empty text
#             too) and the files as before but Wine's own bookkeeping
#             (wine_keys), no page. A
#             shell that builds the association array as Windows does shows
#             one page, whatever program the user chose for .wav.
#   existing  .wav names Sound.Recording, which has another program's page
#             handler, as have SystemFileAssociations\.wav and *: the
#             handlers go below them, .wav and those handlers stay
#             as they were through install, repair and /x, each given on
#             the command line what only the package decides (its folders,
#             .wav's value as if the package had set it, an upgrade).
#   takeover  after the install another program makes .wav name its own
#             type: a repair leaves it; /x leaves .wav and that type, and
#             removes WAV.File.
#   upgrade   the previous version's package (the modules with an earlier
#             version), then this one while a 64-bit program holds the
#             page: 3010, one product; after the restart this version's
#             modules registered where the class keys say, the page; /x
#             leaves all as before.
#   x86       the x86 package in a 32-bit prefix: /qn, the x86 module
#             registered, WAV.File hooked, the approval, the page in the
#             32-bit shell; /x: all as before.
#   refused   each ends with 1603 before any change (its refusal ran, no
#             InstallInitialize): the x86 package on 64-bit Windows; the
#             previous version's package over this one; this package while
#             the setup program's Tolvane is installed (its message). And
#             setup /S while the package's Tolvane is installed: exit 2,
#             nothing changed.
# The refused registry states, every one, are in refusals.sh (for the setup
# program and the package) and in the checks' own tests (tests/registration).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

record='HKLM\Software\Tolvane\Package'

# product_code PACKAGE
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }

# installs PACKAGE NAME [PROPERTY=VALUE...]: msiexec /i PACKAGE exits 0.
installs() {
  msiexec "$2" /i "$(winepath -w "$1")" "${@:3}"
  [ "$code" = 0 ] || fail "$2: msiexec /i exits with '$code', expected 0"
}

# refuses PACKAGE NAME ACTION [TEXT]: msiexec /i PACKAGE exits 1603, refused
# by ACTION before any change (refused_before_changes), and logs TEXT.
refuses() {
  msiexec "$2" /i "$(winepath -w "$1")"
  [ "$code" = 1603 ] || fail "$2: msiexec /i exits with '$code', expected 1603"
  refused_before_changes "$2" "$3"
  [ -z "${4:-}" ] || logged "$2" "$4"
}

# removes PACKAGE NAME [PROPERTY=VALUE...]: msiexec /x PACKAGE's product
# exits 0.
removes() {
  msiexec "$2" /x "$(product_code "$1")" "${@:3}"
  [ "$code" = 0 ] || fail "$2: msiexec /x exits with '$code', expected 0"
}

# What only the package decides, given on the command line: its folders in
# one every user may write, and .wav's value as if the package had set it.
steering=('INSTALLDIR=C:\users\Public\Tolvane64\' 'INSTALLDIR32=C:\users\Public\Tolvane32\'
          TOLVANE_WAV_DEFAULT=1 TOLVANE_WAV_KEY=created TOLVANE_TYPE_KEY=created TolvaneWavDefault=1
          TolvaneWavRecord=1 TolvaneWavRecordText=Sound.Recording
          UPGRADINGPRODUCTCODE='{00000000-0000-0000-0000-000000000002}')

# check_package_installed TYPE [X64_DLL X86_DLL]: modules, class, handler,
# approval and record; .wav names TYPE; the page in both shells.
check_package_installed() {
  holds "$dir64" PELLMORE.DLL
  holds "$dir32" PELLMORE.DLL
  check_modules "${@:2}"
  expect 64 'HKCR\PELLMORE.TTolvane' "" "Fennrick"
  expect 64 'HKCR\PELLMORE.TTolvane\Clsid' "" "$clsid"
  expect 64 'HKCR\.wav' "" "$1"
  expect 64 "HKCR\\$1\\shellex\\PropertySheetHandlers\\Tolvane" "" "$clsid"
  expect 64 "$record" FileType "$1"
  expect 64 "$record" Approval 1
  expect 32 "$record" Approval 1
  expect_no_key 64 "$arp"
  check_pages
}

# installed_products: the product codes of ours Wine's installer knows.
installed_products() {
  timeout 30 "$wine64" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null |
    tr -d '\r' | grep -oE '\{[0-9A-F-]{36}\}$' | while read -r product; do
      timeout 30 "$wine64" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" /v DisplayName 2>/dev/null |
        grep -q 'Tolvane' && echo "$product"
    done
}

# Packages made for the tests, from this one's own custom actions.
variants="$work/packages"
mkdir -p "$variants"
msiinfo extract "$package" Binary.Checks >"$variants/checks.dll"
# The same version with other bytes: another product of the same version.
cp "$variants/checks.dll" "$variants/checks-other.dll"
printf 'other' >>"$variants/checks-other.dll"
"$root/installer/package/build.sh" x64 "$x64_dll" "$x86_dll" "$variants/checks-other.dll" "$variants/same.msi" ||
  fail "could not build the package of the same version"
# The previous version: the modules with an earlier version of the same
# length.
IFS=. read -r major minor build revision <<<"$version"
if [ "$revision" -gt 0 ]; then earlier="$major.$minor.$build.$((revision - 1))"
elif [ "$minor" -gt 0 ]; then earlier="$major.$((minor - 1)).$build.$revision"
else earlier="$((major - 1)).$minor.$build.$revision"; fi
[ "${#earlier}" = "${#version}" ] || fail "no earlier version of the same length than $version"
with_version "$x64_dll" "$variants/x64-earlier.dll" "$earlier" || fail "could not give the x64 module version $earlier"
with_version "$x86_dll" "$variants/x86-earlier.dll" "$earlier" || fail "could not give the x86 module version $earlier"
"$root/installer/package/build.sh" x64 "$variants/x64-earlier.dll" "$variants/x86-earlier.dll" \
  "$variants/checks.dll" "$variants/earlier.msi" || fail "could not build the package of $earlier"

# -- A fresh system ----------------------------------------------------------
new_prefix fresh
step "$name: msiexec /i /qn, .wav's value an empty text"
reg_add 'HKCR\.wav' /ve
snapshot "$work/$name-before"
installs "$package" "$name-install"
check_package_installed WAV.File
expect 64 "$record" WavDefault "WAV.File|existed|created"
check_association_array

step "$name: repair (REINSTALL=ALL) after the 64-bit module and the handler went"
rm -f "$WINEPREFIX/drive_c/Program Files/Tolvane/PELLMORE.DLL"
timeout 30 "$wine64" reg delete 'HKCR\WAV.File\shellex\PropertySheetHandlers\Tolvane' /f >/dev/null 2>&1
msiexec "$name-repair" /i "$(winepath -w "$package")" REINSTALL=ALL REINSTALLMODE=amus
[ "$code" = 0 ] || fail "repair: msiexec exits with '$code', expected 0"
check_package_installed WAV.File
expect 64 "$record" WavDefault "WAV.File|existed|created"

step "$name: a package of the same version with other bytes upgrades it"
installs "$variants/same.msi" "$name-same"
[ "$(installed_products)" = "$(product_code "$variants/same.msi")" ] ||
  fail "the installed products are '$(installed_products)', not the new package's alone"
check_package_installed WAV.File

step "$name: msiexec /x"
removes "$variants/same.msi" "$name-remove"
check_uninstalled
unchanged_but_installer_keys "after msiexec /x"
check_no_page "$shell64" 64
done_with_prefix

# -- .wav names another program's type ----------------------------------------
new_prefix existing
step "$name: .wav names Sound.Recording, which has another program's page; what the package decides given on the command line changes nothing"
reg_add 'HKCR\.wav' /ve /d Sound.Recording
reg_add 'HKCR\.wav' /v 'Content Type' /d audio/wav
for key in 'HKCR\Sound.Recording' 'HKCR\SystemFileAssociations\.wav' 'HKCR\*'; do
  reg_add "$key\\shellex\\PropertySheetHandlers\\Other" /ve /d '{00000000-0000-0000-0000-000000000001}'
done
snapshot "$work/$name-before"
installs "$package" "$name-install" "${steering[@]}"
check_package_installed Sound.Recording
expect 64 'HKCR\Sound.Recording\shellex\PropertySheetHandlers\Other' "" '{00000000-0000-0000-0000-000000000001}'
expect_no_value 64 "$record" WavDefault
msiexec "$name-repair" /i "$(winepath -w "$package")" REINSTALL=ALL REINSTALLMODE=amus "${steering[@]}"
[ "$code" = 0 ] || fail "repair: msiexec exits with '$code', expected 0"
expect_no_value 64 "$record" WavDefault
removes "$package" "$name-remove" "${steering[@]}"
check_uninstalled
unchanged_but_installer_keys "after msiexec /x"
done_with_prefix

# -- Another program takes .wav over ----------------------------------------
new_prefix takeover
snapshot "$work/$name-before"
step "$name: install, then another program makes .wav name Other.Sound"
installs "$package" "$name-install"
check_package_installed WAV.File
reg_add 'HKCR\.wav' /ve /d Other.Sound
reg_add 'HKCR\Other.Sound\shell\open\command' /ve /d 'other.exe "%1"'
step "$name: a repair leaves .wav to Other.Sound"
msiexec "$name-repair" /i "$(winepath -w "$package")" REINSTALL=ALL REINSTALLMODE=amus
[ "$code" = 0 ] || fail "repair: msiexec exits with '$code', expected 0"
expect 64 'HKCR\.wav' "" Other.Sound
step "$name: msiexec /x leaves .wav and Other.Sound"
removes "$package" "$name-remove"
check_uninstalled
expect 64 'HKCR\.wav' "" Other.Sound
expect 64 'HKCR\Other.Sound\shell\open\command' "" 'other.exe "%1"'
expect_no_key 64 'HKCR\WAV.File'
done_with_prefix

# -- The previous version ----------------------------------------------------
new_prefix upgrade
snapshot "$work/$name-before"
step "$name: the package of $earlier, then this one"
installs "$variants/earlier.msi" "$name-earlier"
check_package_installed WAV.File "$variants/x64-earlier.dll" "$variants/x86-earlier.dll"
step "$name: while a 64-bit program holds the page of $earlier: 3010, this version's module after the restart"
hold_page 64
msiexec "$name-upgrade" /i "$(winepath -w "$package")"
[ "$code" = 3010 ] || fail "upgrade of a held module: msiexec /i exits with '$code', expected 3010"
[ "$(installed_products)" = "$(product_code "$package")" ] ||
  fail "the installed products are '$(installed_products)', not this package's alone"
release_holders
restart
check_package_installed WAV.File
expect 64 "$record" WavDefault "WAV.File|created|created"
removes "$package" "$name-remove"
unchanged_but_installer_keys "after msiexec /x"
done_with_prefix

# -- The setup program and the packages ---------------------------------------
new_prefix refused
step "$name: the x86 package on 64-bit Windows"
# (Wine logs no launch condition's message.)
refuses "$package86" "$name-x86" LaunchConditions
step "$name: the package of $earlier while this one is installed"
installs "$package" "$name-current"
# (Wine logs the action, not its message.)
refuses "$variants/earlier.msi" "$name-downgrade" RefuseDowngrade
removes "$package" "$name-current-remove"
step "$name: the package while the setup program's Tolvane is installed"
install
refuses "$package" "$name-over-setup" Refuse "Tolvane is installed by its setup program in $dir64."
uninstall 0
# What the uninstall left for the restart.
restart
step "$name: the setup program while the package's Tolvane is installed"
installs "$package" "$name-install"
snapshot "$work/$name-before"
refused "$setup" "setup over the package"
removes "$package" "$name-remove"
done_with_prefix

# -- 32-bit Windows: the x86 package ----------------------------------------
step "fresh 32-bit prefix"
wineprefix_make "$work/template32" win32 null
export WINEARCH=win32
name=x86
export WINEPREFIX="$work/$name"
rm -rf "$WINEPREFIX"
cp -a "$work/template32" "$WINEPREFIX"
"$root/scripts/sample-wav" "$WINEPREFIX/drive_c/Sound samples/Sample Song.wav" 2
wineserver -p
# regedit of the prefix's one architecture.
wine64_of_64="$wine64"
wine64=wine
step "$name: msiexec /i /qn, the page, msiexec /x"
snapshot "$work/$name-before"
installs "$package86" "$name-install"
holds "$dir64" PELLMORE.DLL
cmp -s "$WINEPREFIX/drive_c/Program Files/Tolvane/PELLMORE.DLL" "$x86_dll" || fail "$dir64\PELLMORE.DLL is not the x86 module"
expect "HKCR\\CLSID\\$clsid\\InprocServer32" "" "$dir64\\PELLMORE.DLL"
expect 'HKCR\.wav' "" WAV.File
expect 'HKCR\WAV.File\shellex\PropertySheetHandlers\Tolvane' "" "$clsid"
expect "$approved" "$clsid" Tolvane
check_page "$shell32" 32
removes "$package86" "$name-remove"
unchanged_but_installer_keys "after msiexec /x"
wine64="$wine64_of_64"
done_with_prefix

finish
