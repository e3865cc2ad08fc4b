# Shell functions for driving the Properties dialog under Wine; sourced by
# scripts/show, scripts/screenshot and the end-to-end tests (which check the
# page with tests/lib.sh). Needs WINEPREFIX and friends set.

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xvfb"

# wait_for_line FILE PATTERN PID [SECONDS]: waits until a line of FILE
# matches the extended regular expression PATTERN (0), or until the program
# PID that writes it has ended or SECONDS (60) have passed (1).
wait_for_line() {
  local file="$1" pattern="$2" pid="$3" tenths=$((${4:-60} * 10)) i
  for ((i = 0; i < tenths; i++)); do
    grep -qE "$pattern" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -qE "$pattern" "$file" 2>/dev/null
}

# properties_screenshot SHELL_EXE WINDOWS_FILE PNG OUTPUT
# Opens the Properties dialog of the file with the Information page selected,
# saves the dialog's area of the screen as PNG, closes the dialog, and leaves
# what shell_properties printed in OUTPUT. Needs an X display.
properties_screenshot() {
  local shell_exe="$1" file="$2" png="$3" output="$4"
  local release pid rect x y w h status=0
  release="$(mktemp -u "${TMPDIR:-/tmp}/tolvane-release.XXXXXX")"
  wine "$shell_exe" "$file" --hold-until "$(winepath -w "$release")" >"$output" &
  pid=$!
  # shell_properties prints "ready" once the page is selected and read.
  if wait_for_line "$output" '^ready$' "$pid"; then
    rect="$(sed -n 's/^rect\t//p' "$output")"
    read -r x y w h <<<"$rect"
    mkdir -p "$(dirname "$png")"
    # Let the page paint before the grab.
    sleep 0.5
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$png" || status=1
  else
    echo "the Properties dialog did not show the page" >&2
    status=1
  fi
  touch "$release"
  wait "$pid" || status=1
  rm -f "$release"
  return "$status"
}

# page_rows OUTPUT: the seven label/value rows shell_properties printed.
page_rows() { sed -n '/^rect\t/,/^ready$/{/^rect\t/d; /^ready$/d; p}' "$1"; }
