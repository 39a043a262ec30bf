# Shared by the command-line checks (sourced, not run).
# expect NAME STATUS PATTERN -- COMMAND... : runs COMMAND, checks its exit
# status and that its output matches the extended regex PATTERN; a mismatch is
# counted in $failures and the script goes on.
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {
  local name=$1 status=$2 pattern=$3
  shift 4
  local out rc
  out=$("$@" 2>&1)
  rc=$?
  [ "$rc" -eq "$status" ] || fail "$name: exit status $rc, wanted $status; output: $out"
  grep -qE -- "$pattern" <<<"$out" || fail "$name: output does not match /$pattern/: $out"
}
