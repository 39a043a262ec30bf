#!/usr/bin/env bash
# End-to-end checks of the `orwenna` command-line tools: the wiring between the
# command line, standard input and the libraries, which unit tests do not see.
# Usage: cli_test.sh PATH/TO/orwenna
set -uo pipefail
bin=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export ORWENNA_HOME=$home
. "$(dirname "$0")/expect.sh"

expect version 0 '^orwenna [0-9]+\.[0-9]+\.[0-9]+$' -- "$bin" --version
expect overview 0 'keys' -- "$bin" --help
expect unknown-command 109 'not expected' -- "$bin" no-such-command

# The standard test phrase of BIP-39 tooling and its well-known first accounts.
phrase="abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about"
expect phrase-evm 0 '0x9858EfFD232B4033E47d90003D41EC34EcaEda94' -- sh -c "echo '$phrase' | '$bin' keys addresses"
expect phrase-solana 0 'HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk' -- sh -c "echo '$phrase' | '$bin' keys addresses"
expect bad-phrase 1 "isn't in the BIP-39 word list" -- sh -c "echo 'abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandonx' | '$bin' keys addresses"
# A secret on the command line is refused: argv is visible to every process.
expect key-not-in-argv 109 '' -- "$bin" keys import 4c0883a69102937d6231471b5dbb6204fe5129617082792ae468d01a3f362318

expect address-ok 0 '^ok$' -- "$bin" address check ethereum 0x9858EfFD232B4033E47d90003D41EC34EcaEda94
expect address-bad 1 'Not a Solana address' -- "$bin" address check solana 0x12

expect parse-trade 0 'long ETH risk \$25 stop 2%' -- "$bin" parse "лонг ETH риск 25 стоп 2%"
expect parse-nothing 1 'no command' -- "$bin" parse "how are you today?"

# Pages' typed data: nested structs are refused, flat ones get a digest.
doc=$home/mail.json
cat >"$doc" <<'JSON'
{"types":{"EIP712Domain":[{"name":"name","type":"string"},{"name":"version","type":"string"},{"name":"chainId","type":"uint256"},{"name":"verifyingContract","type":"address"}],"Person":[{"name":"name","type":"string"},{"name":"wallet","type":"address"}],"Mail":[{"name":"from","type":"Person"},{"name":"to","type":"Person"},{"name":"contents","type":"string"}]},"primaryType":"Mail","domain":{"name":"Ether Mail","version":"1","chainId":1,"verifyingContract":"0xCcCCccccCCCCcCCCCCCcCcCccCcCCCcCcccccccC"},"message":{"from":{"name":"Cow","wallet":"0xCD2a3d9F938E13CD947Ec05AbC7FE734Df8DD826"},"to":{"name":"Bob","wallet":"0xbBbBBBBbbBBBbbbBbbBbbbbBBbBbbbbBbBbbBBbB"},"contents":"Hello, Bob!"}}
JSON
expect typed-data-nested 1 "doesn't sign nested typed data" -- "$bin" typed-data "$doc"
flat=$home/order.json
cat >"$flat" <<'JSON'
{"types":{"EIP712Domain":[{"name":"name","type":"string"},{"name":"chainId","type":"uint256"}],"Order":[{"name":"amount","type":"uint256"},{"name":"note","type":"string"}]},"primaryType":"Order","domain":{"name":"Shop","chainId":1},"message":{"amount":"12","note":"coffee"}}
JSON
expect typed-data-flat 0 '0x[0-9a-f]{64}' -- "$bin" typed-data "$flat"
expect typed-data-missing 1 '.' -- "$bin" typed-data "$home/absent.json"

# The journal: an empty one, then entries with a torn last line as a crash leaves it.
expect journal-empty 0 '^The journal is empty\.$' -- "$bin" journal
mkdir -p "$home/data"
cat >"$home/data/journal.jsonl" <<'JSONL'
{"at":"2026-12-06T07:19:00Z","chain":"hyperliquid","id":"1733000000000","kind":"signed","note":"entry"}
{"at":"2026-12-06T07:19:01Z","chain":"hyperliquid","id":"1733000000000","kind":"confirmed","note":"filled 0.5 @ 3000"}
{"at":"2026-12-06T07:20:00Z","chain":"relay","id":"0xreq","kind":"signed","note":"Bridge 100 USDC"}
{"at":"2026-12-06T07:21:00Z","chain":"solana","id":"5sig
JSONL
expect journal-all 0 'hyperliquid +confirmed +1733000000000  filled 0\.5 @ 3000' -- "$bin" journal
expect journal-torn 0 '^1 unreadable line skipped\.$' -- "$bin" journal
expect journal-open 0 '^2026-12-06T07:20:00Z  relay +signed +0xreq  Bridge 100 USDC$' -- "$bin" journal --open
open_json=$("$bin" journal --open --json)
[ "$(grep -c '"kind": "signed"' <<<"$open_json")" -eq 1 ] || fail "journal --open --json: $open_json"
grep -q '"skippedLines": 1' <<<"$open_json" || fail "journal --json skipped count: $open_json"

# Account reads: the address is checked first, and --testnet reads the testnet root.
expect hl-bad-address 1 '^Not an EVM address: 0x12$' -- "$bin" hl positions 0x12
expect hl-mainnet-root 1 '127\.0\.0\.1:9\b' -- env ORWENNA_HL_API=http://127.0.0.1:9 ORWENNA_HL_TESTNET_API=http://127.0.0.1:7 \
  "$bin" hl orders 0x9858EfFD232B4033E47d90003D41EC34EcaEda94
expect hl-testnet-root 1 '127\.0\.0\.1:7\b' -- env ORWENNA_HL_API=http://127.0.0.1:9 ORWENNA_HL_TESTNET_API=http://127.0.0.1:7 \
  "$bin" hl mids --testnet --json

if [ "$failures" -gt 0 ]; then
  echo "$failures command-line check(s) failed"
  exit 1
fi
echo "command-line checks passed"
