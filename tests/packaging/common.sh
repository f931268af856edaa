# Helpers shared by the packaging tests. Sourced, not run.

fail() { echo "FAIL: $*" >&2; exit 1; }

# A missing validator is a failure, never a pass.
require_tool() { command -v "$1" >/dev/null 2>&1 || fail "'$1' is not installed (Debian: $2)"; }

# A scratch directory removed when the test ends, whatever the outcome.
make_scratch() { scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT; }
