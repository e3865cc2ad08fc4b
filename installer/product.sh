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
