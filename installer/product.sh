# installer/product.sh: sourced by the scripts that build and check what is
# shipped; the product's names and numbers, each read from its one place.
#   rc_value NAME        a string of the modules' version resource
#                        (extension/tolvane.rc)
#   identity NAME        the module's identity: MODULE_NAME, CLASS_ID,
#                        CLASS_NAME, DESCRIPTION, HANDLER_NAME
#                        (extension/identity.h, which the module compiles
#                        in); progid, its ProgID
#   upgrade_code         the upgrade code of every Windows Installer package
#                        (installer/checks/package_identity.h, which the
#                        checks DLL compiles in)
#   msi_version VERSION  the product version Windows Installer compares,
#                        of a four-field VERSION; fails on a field over 255
#   setup_entry_key      the key name of the setup program's Programs and
#                        Features entry (installer/include/product.nsh)
#   readme_summary       the README's opening paragraph, as one line of
#                        plain text
_product_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

rc_value() {
  sed -n "s/^[[:space:]]*VALUE \"$1\", \"\(.*\)\"[[:space:]]*\$/\1/p" "$_product_root/extension/tolvane.rc" | head -1
}

identity() {
  sed -n "s/^#define TOLVANE_$1 \"\(.*\)\"\$/\1/p" "$_product_root/extension/identity.h"
}

# The module's base name, ".", the class name.
progid() { echo "$(identity MODULE_NAME).$(identity CLASS_NAME)"; }

upgrade_code() {
  sed -n 's/^#define TOLVANE_UPGRADE_CODE L"\(.*\)"$/\1/p' "$_product_root/installer/checks/package_identity.h"
}

# Windows Installer compares the first three fields of a product version
# only, each up to 255.255.65535: the last two of ours share the third, so
# that every later version of ours is a later product version too.
msi_version() {
  local major minor build revision field
  IFS=. read -r major minor build revision <<<"$1"
  for field in "$major" "$minor" "$build" "$revision"; do
    [ "$field" -le 255 ] || { echo "version $1 has a field over 255" >&2; return 1; }
  done
  echo "$major.$minor.$((build * 256 + revision))"
}

# ARP_KEY's last part, ${PRODUCT} put in: winget matches an installed
# program to its manifest by this name.
setup_entry_key() {
  local nsh="$_product_root/installer/include/product.nsh" key product
  key="$(sed -n 's/^!define ARP_KEY ".*\\\(.*\)"$/\1/p' "$nsh")"
  product="$(sed -n 's/^!define PRODUCT "\(.*\)"$/\1/p' "$nsh")"
  echo "${key//'${PRODUCT}'/$product}"
}

# The lines between the title and the first blank line, without Markdown's
# code and emphasis marks.
readme_summary() {
  awk '/^#/ { next } seen && /^$/ { exit } /./ { seen = 1; printf "%s%s", sep, $0; sep = " " }' \
    "$_product_root/README.md" | sed 's/[`*]//g'
}
