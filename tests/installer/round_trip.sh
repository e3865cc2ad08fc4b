#!/usr/bin/env bash
# round_trip.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR
#
# The setup program of DIST_DIR (made by scripts/release) as a user runs it,
# in 64-bit Wine prefixes of its own under WORK_DIR, each a copy of one fresh
# prefix made there once:
#   fresh     a setup whose 32-bit module cannot register fails and leaves
#             nothing behind; setup /S, and once more over itself; the class
#             keys of both registry views name the installed module of their
#             architecture; the Add/Remove Programs entry; the Information
#             page in the 64-bit and in the 32-bit shell (SHELL64.EXE and
#             SHELL32.EXE are the two builds of shell_properties); the entry's
#             QuietUninstallString, waited for; after Wine's restart (which
#             deletes the uninstaller's temporary copy) the registry of both
#             views and the files of drive C are as before setup.
#   existing  .wav already names a file type with another property sheet
#             handler: the same round trip leaves the type, its handler and
#             .wav's value as they were.
# Prints how long setup and the uninstaller take.
set -uo pipefail
if [ $# -ne 4 ] || [ -z "$4" ]; then
  echo "usage: round_trip.sh DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR" >&2
  exit 2
fi
dist="$(realpath "$1")"
shell64="$(realpath "$2")"
shell32="$(realpath "$3")"
work="$(realpath -m "$4")"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

unset DISPLAY
# The Wine settings, wine64_path and wineprefix_make; the prefixes are ours.
source "$root/scripts/wineprefix"
source "$root/tools/shell/session.sh"
export WINEARCH=win64
wine64="$(wine64_path)" || { echo "FAIL: no wine64"; exit 1; }

status=0
fail() { echo "FAIL: $*"; status=1; }
step() { echo "== $*"; }

setups=("$dist"/tolvane-*-setup.exe)
[ "${#setups[@]}" = 1 ] && [ -f "${setups[0]}" ] || { echo "FAIL: not one setup program in $dist"; exit 1; }
setup="${setups[0]}"
x64_dll="$dist/x64/PELLMORE.DLL"
x86_dll="$dist/x86/PELLMORE.DLL"
for file in "$x64_dll" "$x86_dll" "$shell64" "$shell32"; do
  [ -f "$file" ] || { echo "FAIL: $file is missing"; exit 1; }
done

cleanup() { [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

clsid='{241173B6-ABDF-4D59-8A15-476F7A327675}'
approved='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
arp='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane'
dir64='C:\Program Files\Tolvane'
dir32='C:\Program Files (x86)\Tolvane'

# What the modules' version resource says, read from the module itself.
resource_string() { strings -el "$x64_dll" | sed -n "/^$1\$/{n;p;q}"; }
version="$(resource_string ProductVersion)"
publisher="$(resource_string CompanyName)"
[ -n "$version" ] && [ -n "$publisher" ] || { echo "FAIL: no version resource in $x64_dll"; exit 1; }

# value VIEW KEY [NAME]: "TYPE<tab>DATA" of the value (the default value
# without NAME) in registry view VIEW (32 or 64); nothing when it is missing.
value() {
  local view="$1" key="$2" out
  if [ $# -ge 3 ]; then
    out="$(timeout 30 wine reg query "$key" /v "$3" /reg:"$view" 2>/dev/null)" || return 0
  else
    out="$(timeout 30 wine reg query "$key" /ve /reg:"$view" 2>/dev/null)" || return 0
  fi
  tr -d '\r' <<<"$out" | sed -n 's/^    .*    \(REG_[A-Z_]*\)    \(.*\)$/\1\t\2/p; s/^    .*    \(REG_[A-Z_]*\)$/\1\t/p' | head -1
}

# expect VIEW KEY NAME DATA [TYPE]: the value holds exactly DATA (an empty
# NAME means the default value; TYPE defaults to REG_SZ).
expect() {
  local got
  if [ -n "$3" ]; then got="$(value "$1" "$2" "$3")"; else got="$(value "$1" "$2")"; fi
  [ "$got" = "$(printf '%s\t%s' "${5:-REG_SZ}" "$4")" ] ||
    fail "$2 [${3:-default}] (view $1) is '${got:-missing}', expected ${5:-REG_SZ} '$4'"
}
expect_key() { timeout 30 wine reg query "$2" /reg:"$1" >/dev/null 2>&1 || fail "$2 (view $1) is missing"; }
expect_no_key() {
  timeout 30 wine reg query "$2" /reg:"$1" >/dev/null 2>&1
  [ $? = 1 ] || fail "$2 (view $1) still exists (or reg query did not answer)"
}
expect_no_value() {
  [ -z "$(value "$1" "$2" "$3")" ] || fail "$2 [$3] (view $1) still exists"
}

# pe_kind FILE: "PE32 i386 DLL", "PE32+ x86-64 DLL", "PE32 i386 EXE", ...
pe_kind() {
  local file="$1" offset signature machine magic flags kind
  offset="$(od -An -tu4 -j60 -N4 "$file" 2>/dev/null | tr -d ' ')"
  [ -n "$offset" ] || { echo "unreadable"; return; }
  signature="$(od -An -tx1 -j"$offset" -N4 "$file" | tr -d ' ')"
  [ "$signature" = 50450000 ] || { echo "no PE image"; return; }
  machine="$(od -An -tx2 -j$((offset + 4)) -N2 "$file" | tr -d ' ')"
  flags="$(od -An -tu2 -j$((offset + 22)) -N2 "$file" | tr -d ' ')"
  magic="$(od -An -tx2 -j$((offset + 24)) -N2 "$file" | tr -d ' ')"
  case "$machine/$magic" in
    014c/010b) kind="PE32 i386" ;;
    8664/020b) kind="PE32+ x86-64" ;;
    *) kind="PE machine $machine, magic $magic" ;;
  esac
  if ((flags & 0x2000)); then echo "$kind DLL"; else echo "$kind EXE"; fi
}

# The page, as in the registration end-to-end test.
sample='C:\Sound samples\Sample Song.wav'

# check_page SHELL BITS: the shell's Properties dialog shows the page.
check_page() {
  local output="$work/page-$name-$2.txt"
  timeout 60 wine "$1" "$sample" --timeout 30 >"$output" 2>&1 || fail "$2-bit shell: shell_properties failed ($?)"
  local problems
  problems="$(page_problems "$output" 'Sample Song.wav')"
  [ -z "$problems" ] || fail "$2-bit shell: $problems"
}

# check_no_page SHELL BITS: before setup the dialog has Wine's tab alone.
check_no_page() {
  local output="$work/nopage-$name-$2.txt"
  timeout 60 wine "$1" "$sample" --timeout 30 >"$output" 2>&1 && fail "$2-bit shell: found a page before setup"
  grep -qx "$(printf 'tabs\tGeneral')" "$output" ||
    fail "$2-bit shell: the tabs before setup are not General alone: $(grep '^tabs' "$output")"
}

# After the uninstall and Wine's restart: no page in either shell, and the
# registry and the files as before setup. A prefix that passed goes.
expect_as_before_setup() {
  step "$name: after Wine's restart, no page and all as before setup"
  restart
  check_no_page "$shell64" 64
  check_no_page "$shell32" 32
  snapshot "$work/$name-after"
  compare "$work/$name-before" "$work/$name-after" "after uninstalling"
  [ "$status" = 0 ] && rm -rf "$WINEPREFIX"
}

# Registry entries a snapshot ignores: the hardware and display device data
# that Wine's graphics driver makes anew whenever it starts, partly volatile.
noise='\[HKEY_LOCAL_MACHINE\\(Hardware|System\\CurrentControlSet\\(Control\\(Class|DeviceClasses|Video|ServiceCurrent)|Hardware Profiles\\Current\\System\\CurrentControlSet\\Control\\Video))[]\\]'
# What is never noise.
ours='Classes|\.wav|CLSID|Shell Extensions|Uninstall|Tolvane|PELLMORE|WAV\.File|Sound\.Recording'

# snapshot DIR: the whole registry, both views (the 64-bit export holds the
# 32-bit view below its Wow6432Node keys), a line per value with its key in
# front; and the list of the files of drive C.
snapshot() {
  local dir="$1"
  mkdir -p "$dir"
  rm -f "$dir/registry.reg"
  timeout 60 "$wine64" regedit /E "$(winepath -w "$dir/registry.reg")" >/dev/null 2>&1
  [ -s "$dir/registry.reg" ] || { fail "regedit exported nothing"; return; }
  iconv -f UTF-16LE -t UTF-8 "$dir/registry.reg" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' |
    awk '/\\$/ { line = line substr($0, 1, length($0) - 1); next }
         { $0 = line $0; line = "" }
         /^\[/ { key = $0; print key; next }
         /^$/ { next }
         { print key "\t" $0 }' | LC_ALL=C sort >"$dir/registry.txt"
  (cd "$WINEPREFIX/drive_c" && find . | LC_ALL=C sort) >"$dir/files.txt"
}

# changes BEFORE_LIST AFTER_LIST: "- line" for what went, "+ line" for what
# came.
changes() { LC_ALL=C comm -3 "$1" "$2" | sed 's/^\t/+ /; t; s/^/- /'; }

# compare BEFORE AFTER WHAT: nothing changed but noise.
compare() {
  local line registry=""
  while IFS= read -r line; do
    [[ "$line" =~ ^[-+]\ $noise && ! "$line" =~ $ours ]] && continue
    registry+="$line"$'\n'
  done < <(changes "$1/registry.txt" "$2/registry.txt")
  [ -z "$registry" ] || fail "$3: the registry changed:
$(head -40 <<<"$registry")"
  local files
  files="$(changes "$1/files.txt" "$2/files.txt")"
  [ -z "$files" ] || fail "$3: the files of drive C changed:
$(head -40 <<<"$files")"
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { printf '%d.%02d' $(($1 / 1000)) $(($1 % 1000 / 10)); }

# new_prefix NAME: a copy of the fresh template prefix, with the sample WAV.
new_prefix() {
  name="$1"
  export WINEPREFIX="$work/$name"
  rm -rf "$WINEPREFIX"
  cp -a "$work/template" "$WINEPREFIX"
  "$root/scripts/sample-wav" "$WINEPREFIX/drive_c/Sound samples/Sample Song.wav" 2
}

# check_installed: modules, class keys, handler and entry after setup.
check_installed() {
  local type="$1" view path unix kind module want
  [ -d "$WINEPREFIX/drive_c/Program Files/Tolvane" ] || fail "no folder $dir64"
  [ "$(ls "$WINEPREFIX/drive_c/Program Files/Tolvane" | tr '\n' ' ')" = "PELLMORE.DLL uninstall.exe " ] ||
    fail "$dir64 holds: $(ls "$WINEPREFIX/drive_c/Program Files/Tolvane" | tr '\n' ' ')"
  [ "$(ls "$WINEPREFIX/drive_c/Program Files (x86)/Tolvane" | tr '\n' ' ')" = "PELLMORE.DLL " ] ||
    fail "$dir32 holds: $(ls "$WINEPREFIX/drive_c/Program Files (x86)/Tolvane" | tr '\n' ' ')"
  for view in 64 32; do
    if [ "$view" = 64 ]; then want="PE32+ x86-64 DLL" module="$x64_dll"; else want="PE32 i386 DLL" module="$x86_dll"; fi
    expect "$view" "HKCR\\CLSID\\$clsid" "" "Fennrick"
    expect "$view" "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel "Apartment"
    expect "$view" "HKCR\\CLSID\\$clsid\\ProgID" "" "PELLMORE.TTolvane"
    expect "$view" "$approved" "$clsid" "Tolvane"
    path="$(value "$view" "HKCR\\CLSID\\$clsid\\InprocServer32" | sed -n 's/^REG_SZ\t//p')"
    unix="$(winepath -u "$path" 2>/dev/null | tr -d '\r')"
    if [ -z "$path" ] || [ ! -f "$unix" ]; then
      fail "the $view-bit class key names '$path', which is no file"
    else
      kind="$(pe_kind "$unix")"
      [ "$kind" = "$want" ] || fail "the $view-bit class key names $path, a $kind"
      cmp -s "$unix" "$module" || fail "the $view-bit class key names $path, which is not $module"
      echo "view $view: $path ($kind)"
    fi
  done
  expect 64 'HKCR\PELLMORE.TTolvane\Clsid' "" "$clsid"
  expect 64 'HKCR\.wav' "" "$type"
  expect 64 "HKCR\\$type\\shellex\\PropertySheetHandlers\\Tolvane" "" "$clsid"

  # The entry, once: in the 64-bit view, beside the 64-bit module.
  local uninstaller="$dir64\\uninstall.exe" size
  expect 64 "$arp" DisplayName "Tolvane"
  expect 64 "$arp" DisplayVersion "$version"
  expect 64 "$arp" Publisher "$publisher"
  expect 64 "$arp" DisplayIcon "$uninstaller"
  expect 64 "$arp" InstallLocation "$dir64"
  expect 64 "$arp" NoModify 0x1 REG_DWORD
  expect 64 "$arp" NoRepair 0x1 REG_DWORD
  expect 64 "$arp" UninstallString "\"$uninstaller\""
  expect 64 "$arp" QuietUninstallString "\"$uninstaller\" /S"
  expect_no_key 32 "$arp"
  kind="$(pe_kind "$WINEPREFIX/drive_c/Program Files/Tolvane/uninstall.exe")"
  [ "$kind" = "PE32 i386 EXE" ] || fail "the uninstaller is a $kind"
  # In KiB, the files of both folders.
  size="$(value 64 "$arp" EstimatedSize | sed -n 's/^REG_DWORD\t0x//p')"
  local bytes
  bytes="$(cat "$WINEPREFIX/drive_c/Program Files/Tolvane/"* "$WINEPREFIX/drive_c/Program Files (x86)/Tolvane/"* | wc -c)"
  if [ -z "$size" ] || (( (16#$size) < bytes / 1024 - 2 || (16#$size) > bytes / 1024 + 2 )); then
    fail "EstimatedSize is '${size:-missing}' (hex), the files take $((bytes / 1024)) KiB"
  fi
}

# uninstall: runs the entry's QuietUninstallString as a user's tool would,
# waits for the uninstaller (which runs on as a temporary copy after the
# command returns) and for Wine to go idle.
uninstall() {
  local command start returned done idle i
  command="$(value 64 "$arp" QuietUninstallString | sed -n 's/^REG_SZ\t//p')"
  [ -n "$command" ] || { fail "no QuietUninstallString"; return; }
  # A batch file keeps the command line as it is (wine quotes arguments).
  printf '@%s\r\n' "$command" >"$work/uninstall-$name.bat"
  start="$(now_ms)"
  timeout 60 wine cmd /c "$(winepath -w "$work/uninstall-$name.bat")" </dev/null ||
    fail "the QuietUninstallString failed ($?)"
  returned="$(now_ms)"
  for ((i = 0; i < 1200; i++)); do
    uninstaller_running || break
    sleep 0.05
  done
  uninstaller_running && fail "the uninstaller still runs after a minute"
  done="$(now_ms)"
  timeout 60 wineserver -w || fail "Wine did not go idle within a minute"
  idle="$(now_ms)"
  echo "time: uninstall ($name) returned after $(seconds $((returned - start))) s, the uninstaller ended after $(seconds $((done - start))) s, Wine idle after $(seconds $((idle - start))) s"
}

# uninstaller_running: a process of this prefix runs the uninstaller or its
# temporary copy. (The pattern does not match its own command line.)
uninstaller_running() {
  local file
  for file in $(grep -laE '[\\](Un|uninstall)[.]exe' /proc/[0-9]*/cmdline 2>/dev/null); do
    tr '\0' '\n' <"${file%/cmdline}/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

# install: setup /S, timed.
install() {
  local start end
  start="$(now_ms)"
  timeout 60 wine "$setup" /S </dev/null || fail "setup /S failed ($?)"
  end="$(now_ms)"
  echo "time: setup /S ($name) took $(seconds $((end - start))) s"
}

# restart: Wine's restart, which carries out deletions left for it.
restart() {
  DISPLAY= timeout 60 wineboot -r >/dev/null 2>&1 || fail "wineboot -r failed"
  timeout 60 wineserver -w || fail "Wine did not go idle after its restart"
}

test_start="$(now_ms)"
mkdir -p "$work"
step "fresh 64-bit prefix"
# Dialogs without a display: Wine's null graphics driver.
wineprefix_make "$work/template" win64 null

# A setup like the real one, but its 32-bit module has no DllRegisterServer.
broken="$work/broken"
mkdir -p "$broken"
LC_ALL=C sed 's/DllRegisterServer/DllRegisterServeX/' "$x86_dll" >"$broken/PELLMORE.DLL"
cmp -s "$broken/PELLMORE.DLL" "$x86_dll" && fail "could not break the 32-bit module"
"$root/installer/build.sh" "$x64_dll" "$broken/PELLMORE.DLL" "$broken/setup-broken.exe" 2>"$broken/makensis.log" ||
  { cat "$broken/makensis.log"; fail "makensis failed"; }


# -- A fresh system ----------------------------------------------------------
new_prefix fresh
step "$name: before setup"
check_no_page "$shell64" 64
check_no_page "$shell32" 32
expect_no_key 64 'HKCR\.wav'
snapshot "$work/$name-before"

step "$name: a setup whose 32-bit module does not register"
timeout 60 wine "$broken/setup-broken.exe" /S </dev/null
code=$?
[ "$code" = 2 ] || fail "the failing setup exits with $code, expected 2"
snapshot "$work/$name-failed"
compare "$work/$name-before" "$work/$name-failed" "after the failed setup"

step "$name: setup /S"
install
check_installed WAV.File
expect 64 'HKCR\WAV.File\shellex' "" ""
expect 64 'HKCR\WAV.File\shellex\PropertySheetHandlers' "" ""

step "$name: setup /S over the installed one"
install
check_installed WAV.File

step "$name: the shell's Properties dialog"
check_page "$shell64" 64
check_page "$shell32" 32
echo "both shells show the Information page"

step "$name: QuietUninstallString"
uninstall
[ ! -e "$WINEPREFIX/drive_c/Program Files/Tolvane" ] || fail "$dir64 is still there"
[ ! -e "$WINEPREFIX/drive_c/Program Files (x86)/Tolvane" ] || fail "$dir32 is still there"
for view in 64 32; do
  expect_no_key "$view" "$arp"
  expect_no_key "$view" "HKCR\\CLSID\\$clsid"
  expect_no_value "$view" "$approved" "$clsid"
  expect_key "$view" "$approved"
done
expect_no_key 64 'HKCR\PELLMORE.TTolvane'
expect_no_key 64 'HKCR\.wav'
expect_no_key 64 'HKCR\WAV.File'

expect_as_before_setup

# -- .wav names a file type with a handler of its own ------------------------
new_prefix existing
other='{5A0B4E3C-8C1D-4E2F-9A3B-7C6D5E4F3A2B}'
step "$name: .wav is a Sound.Recording with a handler Loudness"
timeout 30 wine reg add 'HKCR\.wav' /ve /d Sound.Recording /f >/dev/null 2>&1 || fail "reg add failed"
timeout 30 wine reg add 'HKCR\.wav' /v 'Content Type' /d audio/wav /f >/dev/null 2>&1 || fail "reg add failed"
timeout 30 wine reg add 'HKCR\Sound.Recording' /ve /d 'Wave Sound' /f >/dev/null 2>&1 || fail "reg add failed"
timeout 30 wine reg add 'HKCR\Sound.Recording\shellex\PropertySheetHandlers\Loudness' /ve /d "$other" /f >/dev/null 2>&1 || fail "reg add failed"
check_no_page "$shell64" 64
check_no_page "$shell32" 32
snapshot "$work/$name-before"

step "$name: setup /S"
install
check_installed Sound.Recording
expect_no_key 64 'HKCR\WAV.File'
check_page "$shell64" 64
check_page "$shell32" 32

step "$name: QuietUninstallString"
uninstall
expect 64 'HKCR\.wav' "" "Sound.Recording"
expect 64 'HKCR\.wav' 'Content Type' "audio/wav"
expect 64 'HKCR\Sound.Recording' "" "Wave Sound"
expect 64 'HKCR\Sound.Recording\shellex\PropertySheetHandlers\Loudness' "" "$other"
expect_no_key 64 'HKCR\Sound.Recording\shellex\PropertySheetHandlers\Tolvane'

expect_as_before_setup

echo "time: the round trip took $(seconds $(($(now_ms) - test_start))) s"
[ "$status" = 0 ] && echo "installer round trip: all checks passed"
exit "$status"
