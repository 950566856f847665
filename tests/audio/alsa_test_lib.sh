# What the ALSA device scripts share (sourced): soundclock's exit status
# and output checked, files compared, failures counted in FAILURES, and the
# closing line. Needs SOUNDCLOCK set.
FAILURES=0

# expect STATUS PATTERN ARGS...: soundclock's exit status and output.
expect() {
  local status=$1 pattern=$2 output actual
  shift 2
  output=$(timeout -k 5 30 "$SOUNDCLOCK" "$@" 2>&1 </dev/null)
  actual=$?
  if [ "$actual" != "$status" ] || ! grep -Ezq -- "$pattern" <<<"$output"; then
    printf 'FAIL: soundclock %s\n  exit %s (expected %s), output:\n%s\n  expected to match: %s\n' "$*" "$actual" "$status" "$output" "$pattern"
    FAILURES=$((FAILURES + 1))
  else
    printf 'ok: soundclock %s -> %s\n' "$*" "$status"
  fi
}

# same FILE1 FILE2 WHAT: the two files hold the same bytes.
same() {
  if cmp -s "$1" "$2"; then echo "ok: $3"; else echo "FAIL: $3 ($(cmp "$1" "$2" 2>&1))"; FAILURES=$((FAILURES + 1)); fi
}

# finish WHAT: the closing line, and the exit status.
finish() {
  if [ "$FAILURES" -gt 0 ]; then
    echo "$FAILURES case(s) failed"
    exit 1
  fi
  echo "$1: all cases passed"
}
