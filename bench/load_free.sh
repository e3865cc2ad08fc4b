#!/usr/bin/env bash
# bench/load_free.sh [ROUNDS]
#
# What a shell pays to load the module and free it, on each architecture,
# against a DLL of nothing with the same system imports and build flags
# (bench/minimal), plain and padded to the module's file size: the module's
# cost beyond the minimal DLL's (module/minimal), and what is left of it once
# the sizes match (module/padded). The three DLLs, copied into one folder,
# take turns cycle by cycle in one process of bench/module_load.cpp, for
# ROUNDS rounds (100 by default) of 200 load-and-free cycles of each (50 on
# ARM64, which runs emulated). Prints, over the rounds, the median and the
# quartiles (IQR) of each DLL's time per cycle and of the module's time
# divided by each other DLL's in the same round, the machine's load average
# and how long the run took. Needs what scripts/test needs (scripts/setup).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/fixed-layout"
cd "$root"
rounds="${1:-100}"
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//p}' "$0" >&2; exit 2; }
# Cycles of each DLL per round: a round takes about half a second.
cycles=200
arm64_cycles=50

# run_load ARCH DLL...: module_load's lines for the DLLs, taking turns.
run_load() {
  local arch="$1"
  shift
  case "$arch" in
    x86) TOLVANE_WINE_BITS=32 bash -c 'source scripts/wineprefix && wine "$@"' - \
           build/win32/bench/module_load.exe "$rounds" "$cycles" "$@" ;;
    # The 32-bit wine hands 64-bit programs to start.exe, which fails now
    # and then on a busy machine.
    x64) TOLVANE_WINE_BITS=64 bash -c 'source scripts/wineprefix && "$(wine64_path)" "$@"' - \
           build/win64/bench/module_load.exe "$rounds" "$cycles" "$@" ;;
    arm64) scripts/arm64-platform run wine64 "$root/build/win-arm64/bench/module_load.exe" \
             "$rounds" "$arm64_cycles" "$@" ;;
  esac
}

start=$SECONDS
echo "load_free: $rounds rounds of $cycles cycles per DLL ($arm64_cycles on ARM64);" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
printf '%-6s %-18s %7s %8s %-11s %10s %s\n' arch dll bytes "us/cycle" "(IQR)" "module/dll" "(IQR)"
for arch in x86 x64 arm64; do
  case "$arch" in
    x86) release=win32-release tests=win32 ;;
    x64) release=win64-release tests=win64 ;;
    arm64) release=win-arm64-release tests=win-arm64 ;;
  esac
  cmake --preset "$release" >/dev/null
  cmake --build --preset "$release" --target pellmore minimal_module minimal_padded >/dev/null
  cmake --preset "$tests" >/dev/null
  cmake --build --preset "$tests" --target module_load >/dev/null
  if [ "$arch" = arm64 ]; then
    out="$(scripts/arm64-platform setup 2>&1 && scripts/arm64-platform prefix 2>&1)" ||
      { echo "$out" >&2; exit 1; }
  fi
  # Wine's load time depends on the folder a DLL comes from.
  folder="$root/build/load_free/$arch"
  rm -rf "$folder"
  mkdir -p "$folder"
  cp build/$release/bench/minimal/minimal_module.dll build/$release/bench/minimal/minimal_padded.dll \
    build/$release/extension/PELLMORE.DLL "$folder/"
  lines="$(run_load "$arch" "$folder/minimal_module.dll" "$folder/minimal_padded.dll" \
             "$folder/PELLMORE.DLL" | tr -d '\r')" ||
    { echo "load_free: module_load failed on $arch: $lines" >&2; exit 1; }
  grep -q '^PELLMORE.DLL/minimal_padded.dll ' <<<"$lines" ||
    { echo "load_free: unexpected output of module_load on $arch: $lines" >&2; exit 1; }
  for dll in minimal_module.dll minimal_padded.dll PELLMORE.DLL; do
    awk -v arch="$arch" -v dll="$dll" -v bytes="$(stat -c %s "$folder/$dll")" '
      $1 == dll { us = sprintf("%8.0f %-11s", $2, sprintf("(%.0f-%.0f)", $3, $4)) }
      $1 == "PELLMORE.DLL/" dll { ratio = sprintf("%10.2f (%.2f-%.2f)", $2, $3, $4) }
      END { line = sprintf("%-6s %-18s %7d %s %s", arch, dll, bytes, us, ratio); sub(/ +$/, "", line); print line }' <<<"$lines"
  done
done
echo "load_free: load average $(cut -d' ' -f1-3 /proc/loadavg) at the end;" \
  "took $((SECONDS - start)) s"
