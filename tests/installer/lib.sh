# Shell helpers of the installer tests, sourced by each of them after it set
# "usage" (its arguments: DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR).
#
#   DIST_DIR   what scripts/release made (the setup program, both modules)
#   SHELL*.EXE the 64-bit and the 32-bit build of tools/shell/shell_properties
#   WORK_DIR   the test's 64-bit Wine prefixes, each a copy of one fresh
#              prefix made there once (cp -a takes a second, wineboot -i 15)
#
# Sets setup, x64_dll, x86_dll, version, publisher, and the names below
# (with tests/lib.sh: fail, step, the registry checks, PE kind): snapshots
# of the registry and the files, the page in the shell, setup and the
# QuietUninstallString as users run them, Wine's restart, programs that hold
# the page open, and setup variants built for a test.
if [ $# -ne 4 ] || [ -z "$4" ]; then
  echo "usage: $(basename "$0") DIST_DIR SHELL64.EXE SHELL32.EXE WORK_DIR" >&2
  exit 2
fi
dist="$(realpath "$1")"
shell64="$(realpath "$2")"
shell32="$(realpath "$3")"
work="$(realpath -m "$4")"
source "$(dirname "${BASH_SOURCE[0]}")/../wine.sh"
# Wine reads arguments as UTF-8 and gives the prefix a Western ANSI code page.
export LANG=C.UTF-8
# The prefixes are ours.
export WINEARCH=win64
wine64="$(wine64_path)" || { echo "FAIL: no wine64"; exit 1; }

setups=("$dist"/tolvane-*-setup.exe)
[ "${#setups[@]}" = 1 ] && [ -f "${setups[0]}" ] || { echo "FAIL: not one setup program in $dist"; exit 1; }
setup="${setups[0]}"
x64_dll="$dist/x64/PELLMORE.DLL"
x86_dll="$dist/x86/PELLMORE.DLL"
for file in "$x64_dll" "$x86_dll" "$shell64" "$shell32"; do
  [ -f "$file" ] || { echo "FAIL: $file is missing"; exit 1; }
done

holders=()     # files whose creation releases a holder
holder_pids=()
cleanup() {
  local until
  for until in "${holders[@]}"; do touch "$until"; done
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

arp='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane'
dir64='C:\Program Files\Tolvane'
dir32='C:\Program Files (x86)\Tolvane'
mutex='Global\Tolvane.Setup'

# What the modules' version resource says, read from the module itself.
resource_string() { strings -el "$x64_dll" | sed -n "/^$1\$/{n;p;q}"; }
version="$(resource_string ProductVersion)"
publisher="$(resource_string CompanyName)"
[ -n "$version" ] && [ -n "$publisher" ] || { echo "FAIL: no version resource in $x64_dll"; exit 1; }

reg_add() { timeout 30 wine reg add "$@" /f >/dev/null 2>&1 || fail "reg add $* failed"; }

# unix_path C:\PATH: the file of the prefix's drive C (winepath -u cuts long
# paths of files that do not exist yet).
unix_path() {
  local rest="${1#[Cc]:\\}"
  echo "$WINEPREFIX/drive_c/${rest//\\//}"
}

# temp_is C:\PATH: %TEMP% and %TMP% of the programs started from now on (the
# folder is made).
temp_is() {
  mkdir -p "$(unix_path "$1")"
  reg_add 'HKCU\Environment' /v TEMP /d "$1"
  reg_add 'HKCU\Environment' /v TMP /d "$1"
}

# The page, as in the registration end-to-end test; a file beside it that
# has none.
sample='C:\Sound samples\Sample Song.wav'
notes='C:\Sound samples\notes.txt'

# check_page SHELL BITS: a new program's Properties dialog shows the page.
check_page() {
  local output="$work/page-$name-$2.txt"
  timeout 60 wine "$1" "$sample" --timeout 30 >"$output" 2>&1 || fail "$2-bit shell: shell_properties failed ($?)"
  local problems
  problems="$(page_problems "$output" 'Sample Song.wav')"
  [ -z "$problems" ] || fail "$2-bit shell: $problems"
}
check_pages() { check_page "$shell64" 64; check_page "$shell32" 32; }

# check_association_array: a shell that builds the file's association array
# as Windows documents it (shell_properties --association-array, 64-bit)
# shows one Information page: with no program chosen by the user, with the
# user's choice of another program's type (no handler there) and of the type
# .wav names; and none for a file that is not .wav.
check_association_array() {
  local choice type output problems userchoice='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.wav\UserChoice'
  type="$(value 64 'HKCR\.wav' | sed -n 's/^REG_SZ\t//p')"
  reg_add 'HKCR\Other.Player\shell\open\command' /ve /d 'player.exe "%1"'
  for choice in "" Other.Player "$type"; do
    output="$work/array-$name-${choice:-none}.txt"
    [ -z "$choice" ] || reg_add "$userchoice" /v ProgId /d "$choice"
    timeout 60 wine "$shell64" "$sample" --association-array --timeout 30 >"$output" 2>&1 ||
      fail "association array, user's choice '${choice:-none}': shell_properties failed"
    problems="$(page_problems "$output" 'Sample Song.wav')"
    [ -z "$problems" ] || fail "association array ($(grep '^array' "$output")): $problems"
  done
  timeout 30 wine reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts' /f >/dev/null 2>&1
  timeout 30 wine reg delete 'HKCR\Other.Player' /f >/dev/null 2>&1
  output="$work/array-$name-text.txt"
  timeout 60 wine "$shell64" "$notes" --association-array --timeout 30 >"$output" 2>&1
  grep -qx "$(printf 'tabs\tGeneral')" "$output" ||
    fail "association array of a text file: the tabs are not General alone: $(grep '^tabs' "$output")"
}

# check_no_page SHELL BITS: before setup the dialog has Wine's tab alone.
check_no_page() {
  local output="$work/nopage-$name-$2.txt"
  timeout 60 wine "$1" "$sample" --timeout 30 >"$output" 2>&1 && fail "$2-bit shell: found a page before setup"
  grep -qx "$(printf 'tabs\tGeneral')" "$output" ||
    fail "$2-bit shell: the tabs before setup are not General alone: $(grep '^tabs' "$output")"
}

# hold_page BITS: a program of that architecture holds the page (and so the
# module) open until release_holders; it also keeps Wine running, so that
# restart operations wait for restart.
hold_page() {
  local shell="$shell64" output="$work/hold-$name-$1.txt"
  [ "$1" = 32 ] && shell="$shell32"
  holders+=("$work/release-$name-$1")
  # A "ready" of an earlier run must not count.
  rm -f "$work/release-$name-$1" "$output"
  wine "$shell" "$sample" --hold-until "$(winepath -w "$work/release-$name-$1")" >"$output" 2>&1 &
  holder_pids+=($!)
  wait_for_line "$output" '^ready$' "$!" 30 ||
    fail "$1-bit shell: the page to hold did not appear: $(head -3 "$output")"
}

# hold ARGS...: tests/installer/hold.c holds a mutex or changes keys' access
# lists until release_holders, which gives them back.
hold() {
  local until="$work/release-$name-hold-${#holders[@]}" output
  output="$until.txt"
  holders+=("$until")
  rm -f "$until" "$output"
  "$wine64" "$hold_exe" "$(winepath -w "$until")" "$@" >"$output" 2>&1 &
  holder_pids+=($!)
  wait_for_line "$output" '^ready' "$!" 30 || fail "hold $*: $(cat "$output")"
}

# release_holders: what hold_page and hold hold goes, and the programs end;
# each must end well (hold.c: every access list it changed is back).
release_holders() {
  local until pid i=0
  for until in "${holders[@]}"; do touch "$until"; done
  for pid in "${holder_pids[@]}"; do
    wait "$pid" || fail "a holder ended with $?: $(cat "${holders[$i]}.txt" "$work/hold-$name-"*.txt 2>/dev/null | tail -3)"
    i=$((i + 1))
  done
  holders=()
  holder_pids=()
}

# Registry entries a snapshot ignores: the hardware and display device data
# that Wine's graphics driver makes anew whenever it starts, partly volatile,
# and the system parameters user32 keeps for the session.
noise='\[HKEY_LOCAL_MACHINE\\(Hardware|System\\CurrentControlSet\\(Control\\(Class|DeviceClasses|Video|ServiceCurrent)|Hardware Profiles\\Current\\System(\\CurrentControlSet(\\Control(\\Video)?)?)?))[]\\]|\[HKEY_USERS\\[^]\\]*\\Software\\Wine\\Temporary System Parameters[]\\]'
# What is never noise.
ours='\\Classes|\.wav|CLSID|Shell Extensions|Uninstall|Tolvane|PELLMORE|WAV\.File|Sound\.Recording'

# registry_lines REG OUT: a regedit export as the lines of a snapshot.
registry_lines() {
  iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' |
    awk '/\\$/ { line = line substr($0, 1, length($0) - 1); next }
         { $0 = line $0; line = "" }
         /^\[/ { key = $0; print key; next }
         /^$/ { next }
         { print key "\t" $0 }' | LC_ALL=C sort >"$2"
}

# files_of_c: the files and folders of the prefix's drive C, a path a line.
files_of_c() { (cd "$WINEPREFIX/drive_c" && find . | LC_ALL=C sort); }

# snapshot DIR: the whole registry, both views (the 64-bit export holds the
# 32-bit view below its Wow6432Node keys), a line per value with its key in
# front; and the list of the files of drive C.
snapshot() {
  local dir="$1"
  mkdir -p "$dir"
  rm -f "$dir/registry.reg"
  timeout 60 "$wine64" regedit /E "$(winepath -w "$dir/registry.reg")" >/dev/null 2>&1
  [ -s "$dir/registry.reg" ] || { fail "regedit exported nothing"; return; }
  registry_lines "$dir/registry.reg" "$dir/registry.txt"
  files_of_c >"$dir/files.txt"
}

# snapshot_with BASE DIR KEY...: what snapshot DIR would give, taken after
# the snapshot BASE when only the keys KEY... (as regedit writes them,
# HKEY_LOCAL_MACHINE\...) and what is below them have changed since: BASE's
# lines of those keys give way to an export of each, which takes a tenth of
# the time the whole registry's takes.
snapshot_with() {
  local base="$1" dir="$2" key pattern="" export
  shift 2
  mkdir -p "$dir"
  export="$dir/key.reg"
  for key in "$@"; do
    pattern+="${pattern:+|}$(sed 's/[][\\.^$*+?(){}|]/\\&/g' <<<"$key")"
  done
  if [ -n "$pattern" ]; then
    grep -avE "^\[($pattern)[]\\]" "$base/registry.txt" >"$dir/registry.all"
  else
    cp "$base/registry.txt" "$dir/registry.all"
  fi
  for key in "$@"; do
    rm -f "$export"
    timeout 60 "$wine64" regedit /E "$(winepath -w "$export")" "$key" >/dev/null 2>&1
    [ -s "$export" ] || continue
    registry_lines "$export" "$dir/key.txt"
    grep -a "^\\[" "$dir/key.txt" >>"$dir/registry.all"
  done
  LC_ALL=C sort "$dir/registry.all" >"$dir/registry.txt"
  rm -f "$dir/registry.all" "$dir/key.txt" "$export"
  files_of_c >"$dir/files.txt"
}

# changes BEFORE_LIST AFTER_LIST: "- line" for what went, "+ line" for what
# came.
changes() { LC_ALL=C comm -3 "$1" "$2" | sed 's/^\t/+ /; t; s/^/- /'; }

# compare BEFORE AFTER WHAT: nothing changed but noise.
compare() {
  local line registry=""
  while IFS= read -r line; do
    [[ "$line" =~ ^[-+]\ ($noise) && ! "$line" =~ $ours ]] && continue
    registry+="$line"$'\n'
  done < <(changes "$1/registry.txt" "$2/registry.txt")
  [ -z "$registry" ] || fail "$3: the registry changed:
$(head -40 <<<"$registry")"
  local files
  files="$(changes "$1/files.txt" "$2/files.txt")"
  [ -z "$files" ] || fail "$3: the files of drive C changed:
$(head -40 <<<"$files")"
}

# unchanged_by WHAT: nothing changed since the snapshot "$name-before".
unchanged_by() {
  snapshot "$work/$name-after"
  compare "$work/$name-before" "$work/$name-after" "$1"
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { printf '%d.%02d' $(($1 / 1000)) $(($1 % 1000 / 10)); }

# new_prefix NAME: a copy of the fresh template prefix, with the sample WAV,
# and its Wine server, which runs until done_with_prefix: a cold start of
# Wine costs a second, and a server waits seconds before it ends. Restart
# operations wait for restart (wineboot -r), as on Windows.
new_prefix() {
  name="$1"
  export WINEPREFIX="$work/$name"
  rm -rf "$WINEPREFIX"
  cp -a "$work/template" "$WINEPREFIX"
  "$root/scripts/sample-wav" "$WINEPREFIX/drive_c/Sound samples/Sample Song.wav" 2
  echo "not a sound" >"$WINEPREFIX/drive_c/Sound samples/notes.txt"
  wineserver -p
}

# done_with_prefix: Wine ends there, and the prefix goes when all passed.
done_with_prefix() {
  wineserver -k 2>/dev/null
  [ "$status" = 0 ] && rm -rf "$WINEPREFIX"
}

# check_modules [X64_DLL X86_DLL]: the class key of each registry view names
# an existing file that is the module of its architecture (by default the
# ones of DIST_DIR).
check_modules() {
  local view path unix kind module want
  for view in 64 32; do
    if [ "$view" = 64 ]; then want="PE32+ x86-64 DLL" module="${1:-$x64_dll}"; else want="PE32 i386 DLL" module="${2:-$x86_dll}"; fi
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
}

# holds FOLDER NAME...: the folder of the prefix holds those files alone.
holds() {
  local folder="$1" listing
  shift
  listing="$(ls "$(unix_path "$folder")" 2>/dev/null | tr '\n' ' ')"
  [ "$listing" = "$* " ] || fail "$folder holds: ${listing:-nothing}"
}

# check_installed TYPE [VERSION [X64_DLL X86_DLL]]: modules, class keys,
# handler and entry after setup; .wav names TYPE.
check_installed() {
  local type="$1" installed="${2:-$version}" kind
  [ -d "$WINEPREFIX/drive_c/Program Files/Tolvane" ] || fail "no folder $dir64"
  holds "$dir64" PELLMORE.DLL uninstall.bin uninstall.exe
  holds "$dir32" PELLMORE.DLL
  check_modules "${@:3}"
  expect 64 'HKCR\PELLMORE.TTolvane\Clsid' "" "$clsid"
  expect 64 'HKCR\.wav' "" "$type"
  expect 64 "HKCR\\$type\\shellex\\PropertySheetHandlers\\Tolvane" "" "$clsid"

  # The entry, once: in the 64-bit view, beside the 64-bit module.
  local uninstaller="$dir64\\uninstall.exe" size
  expect 64 "$arp" DisplayName "Tolvane"
  expect 64 "$arp" DisplayVersion "$installed"
  expect 64 "$arp" Publisher "$publisher"
  expect 64 "$arp" DisplayIcon "$uninstaller"
  expect 64 "$arp" InstallLocation "$dir64"
  expect 64 "$arp" NoModify 0x1 REG_DWORD
  expect 64 "$arp" NoRepair 0x1 REG_DWORD
  expect 64 "$arp" UninstallString "\"$uninstaller\""
  expect 64 "$arp" QuietUninstallString "\"$uninstaller\" /S"
  expect_no_key 32 "$arp"
  for file in uninstall.exe uninstall.bin; do
    kind="$(pe_kind "$WINEPREFIX/drive_c/Program Files/Tolvane/$file")"
    [ "$kind" = "PE32 i386 EXE" ] || fail "$file is a $kind"
  done
  # In KiB, the files of both folders.
  size="$(value 64 "$arp" EstimatedSize | sed -n 's/^REG_DWORD\t0x//p')"
  local bytes
  bytes="$(cat "$WINEPREFIX/drive_c/Program Files/Tolvane/"* "$WINEPREFIX/drive_c/Program Files (x86)/Tolvane/"* | wc -c)"
  if [ -z "$size" ] || (( (16#$size) < bytes / 1024 - 2 || (16#$size) > bytes / 1024 + 2 )); then
    fail "EstimatedSize is '${size:-missing}' (hex), the files take $((bytes / 1024)) KiB"
  fi
}

# check_uninstalled: at once after the uninstall, also while programs hold
# the modules: no entry, no class key, no approval of ours, no ProgID.
check_uninstalled() {
  local view
  for view in 64 32; do
    expect_no_key "$view" "$arp"
    expect_no_key "$view" "HKCR\\CLSID\\$clsid"
    expect_no_value "$view" "$approved" "$clsid"
  done
  expect_no_key 64 'HKCR\PELLMORE.TTolvane'
}

# expect_recorded: the entry's key holds setup's record of what it created.
expect_recorded() {
  [[ "$(value 64 "$arp" TolvaneRecord)" == REG_MULTI_SZ$'\t'?* ]] ||
    fail "the entry's key holds no record of what setup created"
}

# install [SETUP]: setup /S (by default DIST_DIR's), timed; it must exit 0
# and load nothing from a place a user may write (check_loaded).
install() {
  local start end trace="$work/install-$name.trace"
  start="$(now_ms)"
  WINEDEBUG=-all,+loaddll timeout 60 wine "${1:-$setup}" /S </dev/null 2>"$trace" || fail "setup /S failed ($?)"
  end="$(now_ms)"
  echo "time: setup /S ($name) took $(seconds $((end - start))) s"
  check_loaded "$trace" "setup /S" "$(winepath -w "${1:-$setup}")"
  loaded "$trace" | grep -qE '^C:\\Program Files \(x86\)\\Tolvane-plugins-[0-9A-Fa-f]+\.tmp\\System\.dll$' ||
    fail "setup /S: NSIS's System plug-in was not loaded from a folder Tolvane-plugins-XXXX.tmp of Program Files (x86)"
}

# loaded TRACE: the programs and modules Wine's +loaddll trace TRACE names,
# one Windows path a line (the trace writes a backslash twice and other
# characters than ASCII as four hexadecimal digits after one).
loaded() {
  grep -a 'trace:loaddll:build_module Loaded L"' "$1" | sed 's/.*Loaded L"\(.*\)" at .*/\1/' |
    perl -CO -pe 's/\\(\\|[0-9a-fA-F]{4})/$1 eq "\\" ? "\\" : chr(hex $1)/ge' | sort -u
}

# check_loaded TRACE WHAT [OWN]: every program and module in TRACE but OWN
# (the setup program itself) comes from Program Files or the Windows folder,
# not its Temp: uninstall.exe's folders are in Program Files too.
check_loaded() {
  local path
  while IFS= read -r path; do
    [ "$path" = "${3:-}" ] && continue
    case "${path,,}" in
      'c:\windows\temp\'*) ;;
      'c:\windows\'* | 'c:\program files\'* | 'c:\program files (x86)\'*) continue ;;
    esac
    fail "$2: $path was loaded from a folder others may write"
  done < <(loaded "$1")
}

# refused SETUP WHAT: setup /S exits 2 within a minute and changes nothing.
refused() {
  local start code
  start="$(now_ms)"
  timeout 60 wine "$1" /S </dev/null
  code=$?
  [ "$code" = 2 ] || fail "$2: setup exits with $code, expected 2"
  echo "time: the refused setup ($name) took $(seconds $(($(now_ms) - start))) s"
  unchanged_by "$2"
}

# run_line NAME LINE: runs the command line LINE as a deployment tool does,
# with Wine's +loaddll trace in WORK_DIR/NAME.trace; code = its exit code,
# read inside Wine (a Unix exit status keeps the low byte of 3010 alone), ""
# when it did not return within a minute.
run_line() {
  # A batch file keeps the command line as it is (wine quotes arguments).
  # (The redirection first: "echo 2>file" would redirect the standard error.)
  printf '@%s\r\n@>"%s" echo %%ERRORLEVEL%%\r\n' "$2" "$(winepath -w "$work/$1.code")" >"$work/$1.bat"
  rm -f "$work/$1.code"
  WINEDEBUG=-all,+loaddll timeout 60 wine cmd /c "$(winepath -w "$work/$1.bat")" </dev/null 2>"$work/$1.trace"
  [ $? = 124 ] && fail "$1: $2 did not return within a minute"
  code="$(tr -d '\r\n ' <"$work/$1.code" 2>/dev/null)"
}

# uninstall CODE: runs the entry's QuietUninstallString as a deployment tool
# does, and at the moment it returns checks that its exit code is CODE, that
# no uninstaller runs any more, that the uninstaller ran from a new folder
# beside the installed one, that nothing it ran or loaded came from a place
# others may write and, unless CODE is 2 (refused), that Tolvane is gone.
uninstall() {
  local command start returned ran mode
  command="$(value 64 "$arp" QuietUninstallString | sed -n 's/^REG_SZ\t//p')"
  [ -n "$command" ] || { fail "no QuietUninstallString"; return; }
  start="$(now_ms)"
  run_line "uninstall-$name" "$command"
  returned="$(now_ms)"
  check_loaded "$work/uninstall-$name.trace" "the QuietUninstallString"
  # uninstall.exe's folder: Program Files, where no user can make or rename
  # a folder. Its access list (SYSTEM and Administrators) gives it Unix mode
  # 750 under Wine (default security: 755); refused, it is gone already.
  ran="$(loaded "$work/uninstall-$name.trace" | grep -E '^C:\\Program Files\\Tolvane-uninstall-[0-9]+\.tmp\\uninstall\.bin$')"
  if [ -z "$ran" ]; then
    fail "the uninstaller did not run from a folder uninstall.exe made in Program Files: $(loaded "$work/uninstall-$name.trace" | grep -i uninstall)"
  else
    mode="$(stat -c %a "$(unix_path "${ran%\\*}")" 2>/dev/null)"
    if [ "$1" = 2 ]; then
      [ -z "$mode" ] || fail "the refused uninstall left ${ran%\\*}"
    elif [ "$mode" != 750 ]; then
      fail "${ran%\\*} has Unix mode ${mode:-(gone)}, not 750 (an access list of its own)"
    fi
  fi
  uninstaller_running && fail "the QuietUninstallString returned while the uninstaller still runs"
  [ "$code" = "$1" ] || fail "the QuietUninstallString exits with '$code', expected $1"
  if [ "$1" != 2 ]; then
    [ -e "$WINEPREFIX/drive_c/Program Files/Tolvane/uninstall.exe" ] && fail "the uninstaller is still in $dir64"
    check_uninstalled
  fi
  echo "time: uninstall ($name) returned after $(seconds $((returned - start))) s with $code"
}

# wine_pids PATTERN: the Unix processes of this prefix's Wine programs whose
# command line matches PATTERN (grep -E, without regard to case).
wine_pids() {
  local file
  for file in $(grep -laiE "$1" /proc/[0-9]*/cmdline 2>/dev/null); do
    tr '\0' '\n' <"${file%/cmdline}/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      basename "${file%/cmdline}"
  done
}

# uninstaller_running: a process of this prefix runs uninstall.exe, the
# uninstaller or a copy of it. (The pattern does not match its own command
# line.)
uninstaller_running() { [ -n "$(wine_pids '(Un|uninstall)[.](exe|bin)')" ]; }

# restart: Wine's restart, which carries out deletions left for it.
restart() {
  DISPLAY= timeout 60 wineboot -r >/dev/null 2>&1 || fail "wineboot -r failed"
}

# setup_variant NAME [build.sh options] X64_DLL X86_DLL: a setup program
# built for a test, with the checks DLL that scripts/release packs, in
# WORK_DIR/setup-NAME/setup.exe, in the background while the test goes on,
# until variants_built.
variant_pids=()
variant_dirs=()
checks_dll="$root/build/win32-release/installer/checks/TOLVANE_CHECKS.DLL"
setup_variant() {
  local variant="$work/setup-$1"
  shift
  mkdir -p "$variant"
  rm -f "$variant/setup.exe"
  "$root/installer/build.sh" --checks "$checks_dll" "$@" "$variant/setup.exe" 2>"$variant/makensis.log" &
  variant_pids+=($!)
  variant_dirs+=("$variant")
}

# variants_built: the setup programs of setup_variant are there.
variants_built() {
  local i
  for i in "${!variant_pids[@]}"; do
    wait "${variant_pids[$i]}" ||
      { cat "${variant_dirs[$i]}/makensis.log"; fail "makensis failed for ${variant_dirs[$i]}"; }
  done
  variant_pids=()
  variant_dirs=()
}

# with_version IN OUT VERSION: the module IN with another version of the
# same length, in its fixed version block and its version strings.
with_version() {
  OLD="$version" NEW="$3" perl -0777 -pe '
    my ($old, $new) = @ENV{qw(OLD NEW)};
    my @part = split /\./, $new;
    my $ms = pack "v2", $part[1], $part[0];
    my $ls = pack "v2", $part[3], $part[2];
    # VS_FIXEDFILEINFO: signature, structure version, file MS, file LS,
    # product MS, product LS.
    s/(\xBD\x04\xEF\xFE.{4}).{16}/$1$ms$ls$ms$ls/s or die "no version block\n";
    my ($o, $n) = map { join "", map { "$_\0" } split //, $_ } $old, $new;
    s/\Q$o\E/$n/g or die "no version string\n";
  ' "$1" >"$2"
}

# The Windows Installer packages (package.sh; refusals.sh tries the x64 one
# in each state setup refuses).
package="$dist/tolvane-$version-x64.msi"
package86="$dist/tolvane-$version-x86.msi"
[ -f "$package" ] && [ -f "$package86" ] || { echo "FAIL: no packages of $version in $dist"; exit 1; }

# msiexec NAME ARGS...: msiexec ARGS /qn with a log (WORK_DIR/NAME.log, as
# UTF-8), its exit code in "code".
msiexec() {
  local name="$1" log
  shift
  log="$work/$name.log"
  rm -f "$log"
  run_line "msiexec-$name" "msiexec $* /qn /l*v $(winepath -w "$log")"
  # Wine's installer runs as the user and writes the custom actions' DLL to
  # that user's %TEMP% (msiXXXX.tmp); Windows Installer's service writes it
  # to %WINDIR%\Installer, which only it may write.
  grep -avE 'Loaded L"C:\\\\users\\\\[^\\]+\\\\Temp\\\\msi[0-9a-f]+\.tmp"' \
    "$work/msiexec-$name.trace" >"$work/msiexec-$name.checked"
  check_loaded "$work/msiexec-$name.checked" "msiexec $*"
}

# logged NAME TEXT: the log of msiexec NAME holds TEXT.
logged() {
  iconv -f UTF-16LE -t UTF-8 "$work/$1.log" 2>/dev/null | grep -qF "$2" ||
    grep -aqF "$2" "$work/$1.log" || fail "$1: the log does not say '$2'"
}

# refused_before_changes NAME ACTION: msiexec NAME ran ACTION, a refusal,
# and ended before InstallInitialize, where an installation's changes begin
# (what comes before it reads only): nothing was changed.
refused_before_changes() {
  logged "$1" ": $2."
  ! grep -aq "Action start [0-9:]*: InstallInitialize\." "$work/$1.log" ||
    fail "$1: the installation went on to InstallInitialize"
}

# What Wine's installer leaves after an uninstall, which Windows Installer
# does not: its empty keys of the installed products, components and
# features (Installer\Products, UserData, UpgradeCodes...), and the
# pre-existing empty keys that the package's values shared.
wine_keys='\[HKEY_(LOCAL_MACHINE|CLASSES_ROOT)\\Software\\(Microsoft\\Windows\\CurrentVersion\\Installer|Classes\\Installer)[]\\]|\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions(\\Approved)?\]|\[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions(\\Approved)?\]|\[HKEY_CLASSES_ROOT\\Installer[]\\]'

# unchanged_but_installer_keys WHAT: the registry and the files as in
# "$name-before" but for wine_keys and Wine's C:\windows\Installer.
unchanged_but_installer_keys() {
  snapshot "$work/$name-after"
  local before="$work/$name-before" after="$work/$name-after"
  grep -avE "^($wine_keys)" "$before/registry.txt" >"$before/registry.package"
  grep -avE "^($wine_keys)" "$after/registry.txt" >"$after/registry.package"
  mkdir -p "$before/p" "$after/p"
  cp "$before/registry.package" "$before/p/registry.txt"
  cp "$after/registry.package" "$after/p/registry.txt"
  grep -v '^\./windows/Installer' "$before/files.txt" >"$before/p/files.txt"
  grep -v '^\./windows/Installer' "$after/files.txt" >"$after/p/files.txt"
  compare "$before/p" "$after/p" "$1"
}

# The template prefix, made once: dialogs without a display through Wine's
# null graphics driver; and the holder of mutexes and keys.
test_start="$(now_ms)"
mkdir -p "$work"
step "fresh 64-bit prefix"
wineprefix_make "$work/template" win64 null
# test_program NAME: tests/installer/NAME.c built as WORK_DIR/NAME.exe (64-bit)
# when it is older than its source.
test_program() {
  if [ ! "$work/$1.exe" -nt "$root/tests/installer/$1.c" ]; then
    "$("$root/scripts/toolchain" --print-dir x86_64)/bin/x86_64-w64-mingw32-clang" -O2 -Wall -Wextra -Werror \
      -o "$work/$1.exe" "$root/tests/installer/$1.c" || fail "$1.c does not build"
  fi
}
test_program hold
hold_exe="$work/hold.exe"

# finish: the closing lines of a test script.
finish() {
  echo "time: $(basename "$0" .sh) took $(seconds $(($(now_ms) - test_start))) s"
  [ "$status" = 0 ] && echo "$(basename "$0" .sh): all checks passed"
  exit "$status"
}
