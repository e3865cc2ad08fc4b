# Shell helpers of the test scripts, sourced by each of them.
#
#   fail MESSAGE     prints "FAIL: MESSAGE"; the script's status becomes 1
#   step TITLE       prints the title of the part that follows
#   clsid, approved  the extension's class identifier and the key that
#                    approves shell extensions
#   registry checks  value, expect, expect_key, expect_no_key, expect_no_value:
#                    each takes an optional first argument 32 or 64, the
#                    registry view (reg query /reg:VIEW); they run `reg`,
#                    by default Wine's with a time limit, which a script may
#                    define anew (another Wine, the view of its module)
#   llvm             the LLVM version of the toolchains (llvm-objdump-$llvm)
#   pe_offset FILE   where the PE header of an image starts
#   pe_kind FILE     "PE32 i386 DLL", "PE32+ x86-64 DLL", "PE32+ ARM64 DLL",
#                    "PE32 i386 EXE", ...
#   page_problems    the shell's Properties dialog of the sample against
#                    tests/expected_page.tsv (needs tools/shell/session.sh)

_tests_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
status=0
fail() { echo "FAIL: $*"; status=1; }
step() { echo "== $*"; }
llvm="$(sed -n 's/^llvm=//p' "$_tests_dir/../cmake/toolchain-versions")"

clsid='{241173B6-ABDF-4D59-8A15-476F7A327675}'
approved='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'

reg() { timeout 30 wine reg "$@"; }

# reg_query VIEW ARG...: reg query ARG..., in registry view VIEW unless empty.
reg_query() { reg query "${@:2}" ${1:+"/reg:$1"}; }

# value [VIEW] KEY [NAME]: "TYPE<tab>DATA" of the value (the default value
# without NAME); nothing when the key or value is missing.
value() {
  local view="" out
  case "$1" in 32 | 64) view="$1"; shift ;; esac
  if [ $# -ge 2 ]; then
    out="$(reg_query "$view" "$1" /v "$2" 2>/dev/null)" || return 0
  else
    out="$(reg_query "$view" "$1" /ve 2>/dev/null)" || return 0
  fi
  tr -d '\r' <<<"$out" | sed -n 's/^    .*    \(REG_[A-Z_]*\)    \(.*\)$/\1\t\2/p; s/^    .*    \(REG_[A-Z_]*\)$/\1\t/p' | head -1
}

# expect [VIEW] KEY NAME DATA [TYPE]: the value holds exactly DATA (an empty
# NAME means the default value; TYPE defaults to REG_SZ).
expect() {
  local view="" got
  case "$1" in 32 | 64) view="$1"; shift ;; esac
  if [ -n "$2" ]; then got="$(value $view "$1" "$2")"; else got="$(value $view "$1")"; fi
  [ "$got" = "$(printf '%s\t%s' "${4:-REG_SZ}" "$3")" ] ||
    fail "$1 [${2:-default}]${view:+ (view $view)} is '${got:-missing}', expected ${4:-REG_SZ} '$3'"
}

# expect_key [VIEW] KEY, expect_no_key [VIEW] KEY: reg query finds the key,
# or answers that it is missing.
expect_key() {
  local view=""
  case "$1" in 32 | 64) view="$1"; shift ;; esac
  reg_query "$view" "$1" >/dev/null 2>&1 || fail "$1${view:+ (view $view)} is missing"
}
expect_no_key() {
  local view=""
  case "$1" in 32 | 64) view="$1"; shift ;; esac
  reg_query "$view" "$1" >/dev/null 2>&1
  [ $? = 1 ] || fail "$1${view:+ (view $view)} still exists (or reg query did not answer)"
}

# expect_no_value [VIEW] KEY NAME
expect_no_value() {
  local view=""
  case "$1" in 32 | 64) view="$1"; shift ;; esac
  [ -z "$(value $view "$1" "$2")" ] || fail "$1 [$2]${view:+ (view $view)} still exists"
}

# image_dump DLL ARCH: sets dump to llvm-objdump -p's output for DLL, and
# fails the test unless DLL is a DLL of ARCH (i686, x86_64 or aarch64).
image_dump() {
  local want kind
  dump="$("llvm-objdump-$llvm" -p "$1")" || { echo "objdump failed on $1"; exit 1; }
  case "$2" in
    i686) want="PE32 i386 DLL" ;;
    x86_64) want="PE32+ x86-64 DLL" ;;
    aarch64) want="PE32+ ARM64 DLL" ;;
    *) echo "unknown architecture $2" >&2; exit 2 ;;
  esac
  kind="$(pe_kind "$1")"
  [ "$kind" = "$want" ] || fail "the image is a $kind, not a $want"
}

# imports_of DUMP: the imports in llvm-objdump -p's output DUMP, as sorted
# "dll function" lines (the DLL's name in lower case).
imports_of() {
  awk '/^[[:space:]]*DLL Name: / { dll = tolower($3); next }
    dll != "" && /^[[:space:]]*[0-9]+[[:space:]]+[A-Za-z_]/ { print dll " " $2 }
    /^Export Table:/ { dll = "" }' <<<"$1" | LC_ALL=C sort -u
}

# pe_offset FILE: where the PE header starts, from the DOS header.
pe_offset() { od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' '; }

# pe_kind FILE: the kind of a PE image, from its headers.
pe_kind() {
  local file="$1" offset signature machine magic flags kind
  offset="$(pe_offset "$file")"
  [ -n "$offset" ] || { echo "unreadable"; return; }
  signature="$(od -An -tx1 -j"$offset" -N4 "$file" | tr -d ' ')"
  [ "$signature" = 50450000 ] || { echo "no PE image"; return; }
  machine="$(od -An -tx2 -j$((offset + 4)) -N2 "$file" | tr -d ' ')"
  flags="$(od -An -tu2 -j$((offset + 22)) -N2 "$file" | tr -d ' ')"
  magic="$(od -An -tx2 -j$((offset + 24)) -N2 "$file" | tr -d ' ')"
  case "$machine/$magic" in
    014c/010b) kind="PE32 i386" ;;
    8664/020b) kind="PE32+ x86-64" ;;
    aa64/020b) kind="PE32+ ARM64" ;;
    *) kind="PE machine $machine, magic $magic" ;;
  esac
  if ((flags & 0x2000)); then echo "$kind DLL"; else echo "$kind EXE"; fi
}

# page_problems OUTPUT NAME: what is wrong with the Properties dialog of the
# two-second sample NAME (scripts/sample-wav) as shell_properties printed it,
# a line each; nothing when the sheet has Wine's tab and the Information page
# with the rows of tests/expected_page.tsv.
page_problems() {
  local output="$1" name="$2" expected
  expected="$(cat "$_tests_dir/expected_page.tsv")"
  grep -qx "$(printf 'sheet\tProperties for %s' "$name")" "$output" ||
    echo "no sheet 'Properties for $name': $(head -1 "$output")"
  grep -qx "$(printf 'tabs\tGeneral\tInformation')" "$output" ||
    echo "the tabs are not General, Information: $(grep '^tabs' "$output")"
  [ "$(page_rows "$output")" = "$expected" ] ||
    printf 'the Information page shows\n%s\nexpected\n%s\n' "$(page_rows "$output")" "$expected"
}
