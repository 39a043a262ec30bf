#!/usr/bin/env bash
# `orwenna move` end to end with the real signer beside it: a send to a name
# the address book does not hold is refused before anything is built, and a
# line that is neither a send, a swap nor a bridge is turned away, and a swap
# or a bridge whose quote can't be had signs nothing. (The sends themselves, with
# --confirm's path, run against fake nodes in the signer's test program.)
# Usage: move_cli_test.sh PATH/TO/orwenna PATH/TO/fake_pinentry.sh
set -uo pipefail
bin=$1
. "$(dirname "$0")/expect.sh"
with_signer_home "$2"
# Nothing may reach a real node.
export ORWENNA_SOLANA_RPC=http://127.0.0.1:9 ORWENNA_NEAR_RPC=http://127.0.0.1:9 ORWENNA_EVM_RPC_BASE=http://127.0.0.1:9
export ORWENNA_JUPITER_API=http://127.0.0.1:9 ORWENNA_JUPITER_RECURRING_API=http://127.0.0.1:9 ORWENNA_RELAY_API=http://127.0.0.1:9 ORWENNA_ONECLICK_API=http://127.0.0.1:9

printf 'PIN correct horse\n' > "$home/script"
phrase="abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about"
expect import 0 '0x9858' -- sh -c "echo '$phrase' | '$bin' wallet import"

expect unsaved 1 "^Mom isn't a saved address on Solana: save it in the address book first, then send\. Nothing was signed\.$" \
  -- "$bin" move "send 5 USDC to Mom" --confirm
expect unsaved-json 1 '"refusal": "0x2222222222222222222222222222222222222222 isn.t a saved address on Base' \
  -- "$bin" move "send 5 USDC to 0x2222222222222222222222222222222222222222 on base" --json
expect not-a-send 1 'orwenna move carries out sends, swaps, bridges, DCA orders, lending moves, contract calls and payments only' -- "$bin" move "deposit 100 USDC to HLP"
expect out-of-hl-no-quote 1 'Nothing was signed\.$' -- "$bin" move "withdraw 10 USDC to Solana" --confirm
expect dca-no-answer 1 'Nothing was signed\.$' -- "$bin" move "cancel Jupiter DCA JUP" --confirm
expect bridge-no-quote 1 'Nothing was signed\.$' -- "$bin" move "move 5 USDC from Solana to Base" --confirm
expect no-quote 1 'Nothing was signed\.$' -- "$bin" move "buy SOL for 10 USDC" --confirm
expect not-a-command 1 "That line isn't a wallet command" -- "$bin" move "hello there"
# Only the import asked the user anything.
[ "$(wc -l < "$home/script.log")" -eq 1 ] || fail "a prompt was shown: $(cat "$home/script.log")"

if [ "$failures" -gt 0 ]; then
  echo "$failures move command-line check(s) failed"
  exit 1
fi
echo "all move command-line checks passed"
