#!/usr/bin/env bash
# `orwenna keep-running`, `orwenna alerts` and `orwenna tasks` in a temporary
# home, with a fake systemctl first on PATH that records its arguments (no
# systemd is needed or touched).
# Usage: automation_cli_test.sh PATH/TO/orwenna
set -uo pipefail
bin=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export ORWENNA_HOME=$home/orwenna
mkdir -p "$home/bin"
cat >"$home/bin/systemctl" <<'FAKE'
#!/bin/sh
echo "$*" >>"$SYSTEMCTL_LOG"
case "$*" in
  *is-active*) if [ -f "$ORWENNA_HOME/systemd/user/app.orwenna.keeprunning.timer" ]; then echo active; else echo inactive; exit 3; fi ;;
esac
exit 0
FAKE
chmod +x "$home/bin/systemctl"
export SYSTEMCTL_LOG=$home/systemctl.log
export PATH=$home/bin:$PATH
units=$ORWENNA_HOME/systemd/user
. "$(dirname "$0")/expect.sh"

expect status-off 0 'Keep running is off \(timer inactive\)' -- "$bin" keep-running status
expect on 0 'Keep running is on' -- "$bin" keep-running on
[ -f "$units/app.orwenna.keeprunning.timer" ] || fail "the timer unit was not written"
grep -qx 'OnUnitActiveSec=60' "$units/app.orwenna.keeprunning.timer" || fail "the timer does not repeat every 60 s"
grep -qx 'Unit=app.orwenna.keeprunning.service' "$units/app.orwenna.keeprunning.timer" || fail "the timer names no service"
real=$(readlink -f "$bin")
grep -qxF "ExecStart=\"$(dirname "$real")/orwenna\" serve --background" "$units/app.orwenna.keeprunning.service" ||
  fail "ExecStart is not the app in the background: $(grep ExecStart "$units/app.orwenna.keeprunning.service")"
grep -qx 'Type=simple' "$units/app.orwenna.keeprunning.service" || fail "the service is not Type=simple"
[ "$(sed -n 1,2p "$SYSTEMCTL_LOG")" = "--user is-active app.orwenna.keeprunning.timer
--user daemon-reload" ] || fail "systemctl calls before enabling: $(cat "$SYSTEMCTL_LOG")"
grep -qx -- '--user enable --now app.orwenna.keeprunning.timer' "$SYSTEMCTL_LOG" || fail "the timer was not enabled"
expect status-on 0 'Keep running is on \(timer active\)' -- "$bin" keep-running status
expect off 0 'Keep running is off' -- "$bin" keep-running off
grep -qx -- '--user disable --now app.orwenna.keeprunning.timer' "$SYSTEMCTL_LOG" || fail "the timer was not disabled"
[ ! -e "$units/app.orwenna.keeprunning.timer" ] && [ ! -e "$units/app.orwenna.keeprunning.service" ] ||
  fail "the units were not removed"
expect bad-word 105 "not in \{on,off,status\}" -- "$bin" keep-running maybe

# Alerts and tasks as the app stores them.
mkdir -p "$ORWENNA_HOME/data" "$ORWENNA_HOME/config"
cat >"$ORWENNA_HOME/data/alerts.json" <<'JSON'
[{"id":"A1","coin":"BTC","above":false,"price":"85000","created":"2027-03-13T17:00:00Z","steps":["buy SOL for 10 USDC"]},
 {"id":"A2","coin":"ETH","above":true,"price":"2500","created":"2027-03-13T17:00:00Z"}]
JSON
expect alerts 0 'A1  BTC FALLS to 85,000 — then buy SOL for 10 USDC' -- "$bin" alerts
expect alerts-json 0 '"coin": "ETH"' -- "$bin" alerts --json
expect alert-remove 0 'Alert A1 removed' -- "$bin" alerts remove A1
expect alert-gone 0 '^\[' -- "$bin" alerts --json
"$bin" alerts --json | grep -q '"A1"' && fail "the removed alert is still listed"
expect alert-unknown 1 'No price alert has the id A9' -- "$bin" alerts remove A9
expect alerts-clear 0 'Price alerts cleared \(1\)' -- "$bin" alerts remove all

tasks='[{"id":"T1","steps":["buy SOL for 10 USDC"],"next":"2027-03-14T14:00:00Z","every":{"days":{"_0":14}}}]'
printf '{"tasks": %s}\n' "$(printf '%s' "$tasks" | sed 's/"/\\"/g; s/^/"/; s/$/"/')" >"$ORWENNA_HOME/config/defaults.json"
expect tasks 0 'T1  buy SOL for 10 USDC — next 2027-03-14 [0-9:]+, every 2 weeks' -- env TZ=UTC "$bin" tasks
expect tasks-json 0 '"_0": 14' -- "$bin" tasks --json
expect task-remove 0 'Task T1 removed' -- "$bin" tasks remove T1
expect tasks-empty 0 'Nothing is scheduled' -- "$bin" tasks

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all automation command-line checks passed"
