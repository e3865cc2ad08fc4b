# Sourced first thing by the test scripts that run Wine in prefixes of their
# own (after checking their arguments): sets root, the clone's folder; runs
# the script again without address randomization (scripts/fixed-layout);
# takes the display away (the prefixes use Wine's null graphics driver); and
# brings the Wine settings with wine64_path and wineprefix_make
# (scripts/wineprefix), the Properties dialog helpers (tools/shell/session.sh)
# and the shell tests' own (tests/lib.sh).
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/fixed-layout"
unset DISPLAY
source "$root/scripts/wineprefix"
source "$root/tools/shell/session.sh"
source "$root/tests/lib.sh"
