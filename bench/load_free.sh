#!/usr/bin/env bash
# bench/load_free.sh [CYCLES]
#
# What a shell pays to load the module and free it, on each architecture,
# against a DLL of nothing with the same system imports and build flags
# (bench/minimal), plain and padded to the module's file size: the module's
# cost beyond the minimal DLL's, and how much of that is its size. Each DLL
# in its own process of bench/module_load.cpp (the median of five rounds of
# CYCLES load-and-free cycles, 2,000 by default; a tenth of that on ARM64,
# which runs emulated, so its times are the emulator's and only its ratios
# mean something). Needs what scripts/test needs (scripts/setup).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/fixed-layout"
cd "$root"
cycles="${1:-2000}"
[[ "$cycles" =~ ^[1-9][0-9]*$ ]] || { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//p}' "$0" >&2; exit 2; }

# run_load ARCH DLL: module_load's microseconds per cycle of DLL.
run_load() {
  local arch="$1" dll="$2" line
  case "$arch" in
    x86) line="$(TOLVANE_WINE_BITS=32 bash -c 'source scripts/wineprefix && wine "$@"' - \
                   build/win32/bench/module_load.exe "$dll" "$cycles")" ;;
    x64) line="$(TOLVANE_WINE_BITS=64 bash -c 'source scripts/wineprefix && wine "$@"' - \
                   build/win64/bench/module_load.exe "$dll" "$cycles")" ;;
    arm64) line="$(scripts/arm64-platform run wine "$root/build/win-arm64/bench/module_load.exe" \
                     "$root/$dll" "$((cycles / 10 > 0 ? cycles / 10 : 1))")" ;;
  esac
  line="${line%% us per load*}"
  [[ "$line" =~ ^[0-9.]+$ ]] || { echo "load_free: module_load failed on $dll: $line" >&2; exit 1; }
  echo "$line"
}

printf '%-6s %-18s %9s %12s %8s\n' arch dll bytes "us/cycle" ratio
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
    scripts/arm64-platform setup >/dev/null
    scripts/arm64-platform prefix >/dev/null
  fi
  minimal=""
  for dll in build/$release/bench/minimal/minimal_module.dll build/$release/bench/minimal/minimal_padded.dll \
             build/$release/extension/PELLMORE.DLL; do
    us="$(run_load "$arch" "$dll")"
    [ -n "$minimal" ] || minimal="$us"
    awk -v arch="$arch" -v dll="$(basename "$dll")" -v bytes="$(stat -c %s "$dll")" -v us="$us" \
      -v minimal="$minimal" 'BEGIN { printf "%-6s %-18s %9d %12s %7.2fx\n", arch, dll, bytes, us, us / minimal }'
  done
done
