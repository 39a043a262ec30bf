#!/usr/bin/env bash
# Fails when the code's includes and the declared library graph disagree:
#  - a file under src/<lib>/ includes a folder that <lib>'s DEPS do not name;
#  - a DEPS entry names a library that nothing in the folder includes;
#  - a DEPS entry names a library declared later in src/CMakeLists.txt (upward).
# Usage: check_includes.sh [ROOT]   (ROOT defaults to the repository)
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
src="$root/src"

# Libraries in their declared order.
mapfile -t order < <(sed -n 's/^add_subdirectory(\([a-z_]*\)).*/\1/p' "$src/CMakeLists.txt")
declare -A position=()
for i in "${!order[@]}"; do position[${order[$i]}]=$i; done

failures=0
fail() { echo "check_includes: $*" >&2; failures=$((failures + 1)); }

for lib in "${order[@]}"; do
  cmakelists="$src/$lib/CMakeLists.txt"
  [ -f "$cmakelists" ] || { fail "src/$lib is declared but has no CMakeLists.txt"; continue; }
  # The words between DEPS and EXTERNAL (or the closing parenthesis).
  deps=$(tr '\n' ' ' < "$cmakelists" | sed -n 's/.*orwenna_library([a-z_]*\(.*\)).*/\1/p' |
         sed -n 's/.*DEPS\([^)]*\)/\1/p' | sed 's/EXTERNAL.*//')
  declare -A allowed=()
  for dep in $deps; do
    if [ -z "${position[$dep]+x}" ]; then
      fail "src/$lib declares $dep, which is not a library"
    elif [ "${position[$dep]}" -ge "${position[$lib]}" ]; then
      fail "src/$lib declares $dep, which comes after it in src/CMakeLists.txt"
    fi
    allowed[$dep]=1
  done
  declare -A used=()
  while IFS=: read -r file line folder; do
    [ "$folder" = "$lib" ] && continue
    [ -n "${position[$folder]+x}" ] || [ -d "$src/$folder" ] || continue
    used[$folder]=1
    if [ -z "${allowed[$folder]+x}" ]; then
      fail "${file#"$root"/}:$line includes $folder/, which src/$lib may not use (DEPS: ${deps# })"
    fi
  done < <(grep -nHo '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]*/' "$src/$lib"/*.h "$src/$lib"/*.cpp 2>/dev/null |
           sed -E 's/^([^:]*):([0-9]*):.*"([a-z_]*)\/$/\1:\2:\3/')
  for dep in $deps; do
    [ -n "${used[$dep]+x}" ] || fail "src/$lib declares $dep but includes nothing of it"
  done
  unset allowed used
done

if [ "$failures" -gt 0 ]; then
  echo "check_includes: $failures problem(s) in the library graph" >&2
  exit 1
fi
