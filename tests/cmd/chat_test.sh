#!/usr/bin/env bash
# `orwenna chat` through a pipe, without a model: the exact sentences of the
# local road, cards confirmed only by their code, the files kept across runs.
# Usage: chat_test.sh PATH/TO/orwenna
set -uo pipefail
bin=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export ORWENNA_HOME=$home
# Nothing answers here: the markets read fails at once and the chat goes on without them.
export ORWENNA_HL_API=http://127.0.0.1:9
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# has NAME TEXT LINE: the output holds LINE exactly, as a whole line.
has() { grep -qxF -- "$3" <<<"$2" || fail "$1: no line «$3» in:"$'\n'"$2"; }

fresh=0x52908400098527886E0F7030069857D2E4169EE7
out=$(printf '%s\n' "yes" "send 1 usdc to $fresh" "send 5 USDC to bob" "yes" ":confirm ZZZZ" "cancel" "cancel" \
  | "$bin" chat 2>&1)
has yes-nothing "$out" "orwenna: Nothing is waiting for a confirmation right now. Tell me what to do — for example “deposit 1 USDC into Jupiter”."
has send-guard "$out" "orwenna: Money goes only to saved addresses, so a swapped address can't receive it. Save this one first: the phrase is in the field — put a name instead of NAME (and another network if it isn't base), send it, and check the address on the card. Then say “send <amount> USDC to <name>”."
has composer "$out" "composer: save $fresh as NAME on base"
has read-myself "$out" "orwenna: The model isn't answering (no model is connected), so I read this one myself. Pick another model above for the rest."
has prepared "$out" "orwenna: Understood as “send 5 USDC to bob”. Press Confirm to go ahead."
has yes-card "$out" "orwenna: Press Confirm on the card to go ahead — a typed «yes» never moves money, so text from a site, a note or a pasted message can't confirm for you. The card keeps waiting."
has wrong-code "$out" "No card with the code «ZZZZ» is waiting, so nothing was signed."
has cancelled "$out" "orwenna: Cancelled — nothing moved."
has nothing-to-cancel "$out" "orwenna: OK — nothing was waiting, nothing moved."
grep -qE '^\[card [A-Z2-9]{4}\] send 5 USDC to bob — type :confirm [A-Z2-9]{4} to go ahead, :cancel to drop it$' <<<"$out" \
  || fail "card line: $out"

# The log and the chat survive the run.
out=$(printf '%s\n' ":log" ":canvas" | "$bin" chat 2>&1)
grep -qE 'request: send 1 usdc to 0x' <<<"$out" || fail "log after restart: $out"
has guard-line "$out" "    guard: sends go to saved addresses"
grep -qE '^1 \* New canvas — 13 messages$' <<<"$out" || fail "canvas after restart: $out"

# Confirm carries the card's own code, and only once.
coproc CHAT { "$bin" chat 2>&1; }
chat_pid=$CHAT_PID
in_fd=${CHAT[1]}
out_fd=${CHAT[0]}
echo "send 5 USDC to bob" >&"$in_fd"
code=""
while IFS= read -r -t 20 line <&"$out_fd"; do
  if [[ $line =~ ^\[card\ ([A-Z2-9]{4})\]\ send ]]; then code=${BASH_REMATCH[1]}; break; fi
done
[ -n "$code" ] || fail "no card code"
printf '%s\n' ":confirm $code" ":confirm $code" ":quit" >&"$in_fd"
rest=""
while IFS= read -r -t 20 line <&"$out_fd"; do rest+="$line"$'\n'; done
wait "$chat_pid" 2>/dev/null
has executing "$rest" "[card $code] executing"
# No signer holds a wallet here, so the send stops before any signature.
has no-wallet "$rest" "orwenna: The active wallet has no Solana key. Nothing was signed."
has second-confirm "$rest" "No card with the code «$code» is waiting, so nothing was signed."

# One JSON object per line.
out=$(printf '%s\n' "yes" | "$bin" chat --json 2>&1)
while IFS= read -r line; do
  [[ $line =~ ^\{\"rev\":[0-9]+,\"kind\":\"[a-z]+\",\"data\": ]] || fail "not an event line: $line"
done <<<"$out"
grep -q '"text":"Nothing is waiting for a confirmation right now.' <<<"$out" || fail "json reply: $out"

# A corrupt canvases file is set aside and said, never emptied.
echo '[{"id": broken' >"$home/data/canvases.json"
out=$(printf '%s\n' ":canvas" | "$bin" chat 2>&1)
grep -q "canvases.json couldn't be read (" <<<"$out" || fail "corrupt notice: $out"
aside=$(ls "$home/data" | grep -c '^canvases.json.corrupt-')
[ "$aside" -eq 1 ] || fail "set-aside file: $(ls "$home/data")"
grep -qF '[{"id": broken' "$home"/data/canvases.json.corrupt-* || fail "set-aside content"

if [ "$failures" -gt 0 ]; then
  echo "$failures chat check(s) failed"
  exit 1
fi
echo "chat checks passed"
