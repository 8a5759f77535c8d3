# shellcheck shell=bash
# Sourced by the scripts that run a list of checks and report "ok:" or
# "FAILED:" for each, with a count at the end:
#   check "what" command...   runs the command; its output shown only on failure
#   fail "why"                a step the rest depends on went wrong
#   step "name"               a heading with the seconds since the start
#   finish                    the counts; returns non-zero if any failed
passed=0 failed=0
start=${start:-$SECONDS}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
check() {
  local what=$1
  shift
  if "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
    sed 's/^/    /' "$log"
  fi
}
fail() {
  failed=$((failed + 1))
  echo "FAILED: $1"
}
step() { echo "== $1 ($((SECONDS - start)) s)"; }
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
