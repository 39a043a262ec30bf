#!/usr/bin/env bash
# run-node.sh SCRIPT HELPER — runs one interop script, or reports it skipped (77).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v node >/dev/null 2>&1; then
  echo "skipped: node is not installed"
  exit 77
fi
if [ ! -d "$here/node_modules" ]; then
  echo "skipped: run 'npm ci' in tests/interop first (make test does)"
  exit 77
fi
exec node "$1" "$2"
