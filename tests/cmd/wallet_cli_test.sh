#!/usr/bin/env bash
# `orwenna wallet …` end to end: the app's command line starts the real
# orwenna-signer beside it, in a temporary ORWENNA_HOME, with a scripted
# pinentry standing in for the user.
# Usage: wallet_cli_test.sh PATH/TO/orwenna PATH/TO/fake_pinentry.sh
set -uo pipefail
bin=$1
. "$(dirname "$0")/expect.sh"
with_signer_home "$2"

printf 'PIN correct horse\nCANCEL\nOK\nOK\n' > "$home/script"
phrase="abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about"

expect status-empty 0 '^Wallets: 0$' -- "$bin" wallet status
expect import 0 '0x9858EfFD232B4033E47d90003D41EC34EcaEda94' -- sh -c "echo '$phrase' | '$bin' wallet import"
# A phrase on the command line is refused: argv is visible to every process.
expect phrase-not-in-argv 109 '' -- "$bin" wallet import "$phrase"
expect list 0 '^\* Wallet 1 +\(phrase' -- "$bin" wallet list
expect addresses 0 '"solana": "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk"' -- "$bin" wallet addresses --json
expect forget-declined 1 'The approval was declined' -- "$bin" wallet forget
expect create 0 '^  ([a-z]+ ){11}[a-z]+$' -- "$bin" wallet create
expect lock 0 '^The signer is locked\.$' -- "$bin" wallet lock
expect list-two 0 'Wallet 2' -- "$bin" wallet list
[ "$(stat -c %a "$home/data/signer/keystore.json")" = 600 ] || fail "keystore mode"
[ "$(stat -c %a "$home/run/signer.sock")" = 600 ] || fail "socket mode"

# The app never links the key-holding code.
if nm -C "$bin" | grep -qE 'orwenna::(Keystore|Sealing|SignerService)'; then fail "orwenna links the signer's code"; fi

if [ "$failures" -gt 0 ]; then
  echo "$failures wallet command-line check(s) failed"
  exit 1
fi
echo "all wallet command-line checks passed"
