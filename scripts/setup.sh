#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need.
# Idempotent: installs only what is missing, and refreshes the package lists only then.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  libsecp256k1-dev libssl-dev libcurl4-openssl-dev nlohmann-json3-dev
  libpcre2-dev libutf8proc-dev libboost-dev libcli11-dev libcpp-httplib-dev
  libfmt-dev libspdlog-dev
  chromium
  pinentry-curses
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# node/npm run the interop checks; a machine that already has them (possibly from
# another source) keeps its own, otherwise Debian's are installed.
if ! command -v node >/dev/null 2>&1; then missing+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
