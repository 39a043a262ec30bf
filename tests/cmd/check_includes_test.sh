#!/usr/bin/env bash
# The include lint passes on the tree as it is and fails on each kind of
# planted fault: an upward include, an undeclared sideways include, an unused
# dependency and a dependency on a later library.
set -uo pipefail
script="$1"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fresh() { rm -rf "$work/src"; cp -r "$repo/src" "$work/src"; }
expect() {  # expect NAME WANTED-RC [TEXT]
  local out rc
  out=$("$script" "$work" 2>&1); rc=$?
  if [ "$rc" -ne "$2" ]; then echo "FAIL $1: exit $rc, wanted $2"; echo "$out"; failed=1; return; fi
  if [ -n "${3:-}" ] && ! grep -qF -- "$3" <<<"$out"; then echo "FAIL $1: no \"$3\" in:"; echo "$out"; failed=1; return; fi
  echo "ok $1"
}

fresh
expect "tree as it is" 0

fresh
echo '#include "app/agent.h"' >> "$work/src/trading/market.cpp"
expect "upward include" 1 "src/trading/market.cpp:"

fresh
echo '#include "llm/llm.h"' >> "$work/src/language/commands.h"
expect "undeclared include of an earlier library" 1 "includes llm/, which src/language may not use"

fresh
sed -i 's/DEPS base platform/DEPS base platform signing/' "$work/src/trading/CMakeLists.txt"
expect "declared but unused" 1 "src/trading declares signing but includes nothing of it"

fresh
sed -i 's/DEPS base platform/DEPS base platform router/' "$work/src/trading/CMakeLists.txt"
expect "dependency on a later library" 1 "src/trading declares router, which comes after it"

exit $failed
