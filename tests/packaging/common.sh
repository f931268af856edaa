# Helpers shared by the packaging tests. Sourced, not run.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# require_tool COMMAND DEBIAN_PACKAGE: a missing validator is a failure, never a pass.
require_tool() {
  command -v "$1" >/dev/null 2>&1 ||
    fail "'$1' is not installed (Debian package: $2); this test cannot check anything without it"
}

# A scratch directory removed when the test ends, whatever the outcome.
make_scratch() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/kmb-packaging.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
}

# desktop_key FILE KEY: the value of KEY in the [Desktop Entry] group (untranslated).
desktop_key() {
  awk -v key="$2" '
    /^\[/ { group = $0; next }
    group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$1"
}
