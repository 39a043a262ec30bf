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

# with_signer_home PINENTRY: a temporary ORWENNA_HOME in $home for a real
# signer started by the app, with the scripted pinentry reading $home/script;
# the signer is stopped and the folder removed when the script exits.
with_signer_home() {
  home=$(mktemp -d)
  trap 'if [ -s "$home/run/signer.lock" ]; then kill "$(cat "$home/run/signer.lock")" 2>/dev/null; fi; sleep 0.3; rm -rf "$home"' EXIT
  export ORWENNA_HOME=$home ORWENNA_TEST=1 ORWENNA_SIGNER_SCRYPT_LOG2N=10
  export ORWENNA_PINENTRY=$1 FAKE_PINENTRY_SCRIPT=$home/script
}
