#!/usr/bin/env bash
# The idle app with 20 price alerts and 5 scheduled tasks armed: its CPU and
# resident memory over a minute, read from /proc. Hyperliquid's info endpoint
# is a small fake on 127.0.0.1, so the alert round really reads marks.
#
#   bench/idle_automations.sh [path/to/orwenna] [seconds]
#
# Measure a Release build (make bench builds one): sanitizers inflate both.
set -euo pipefail

bin=${1:-build/release/cmd/orwenna/orwenna}
seconds=${2:-60}
home=$(mktemp -d)
app= fake=
cleanup() {
  [[ -n $app ]] && kill "$app" 2>/dev/null || true
  [[ -n $fake ]] && kill "$fake" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT

python3 - "$home/port" <<'PY' &
import http.server, json, sys
META = [{"universe": [{"szDecimals": 5, "name": "BTC", "maxLeverage": 40},
                      {"szDecimals": 4, "name": "ETH", "maxLeverage": 25}]},
        [{"funding": "0.0000125", "prevDayPx": "90000.0", "dayNtlVlm": "2500000000.5", "markPx": "91012.0"},
         {"funding": "0.00001", "prevDayPx": "3000.0", "dayNtlVlm": "900000000.0", "markPx": "3012.5"}]]
count = 0
class Info(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global count
        count += 1
        open(sys.argv[1] + ".requests", "w").write(str(count))
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        answer = json.dumps([None] if b"perpDexs" in body else META).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Info)
open(sys.argv[1], "w").write(str(server.server_port))
server.serve_forever()
PY
fake=$!
for _ in $(seq 50); do [[ -s $home/port ]] && break; sleep 0.1; done
port=$(cat "$home/port")

mkdir -p "$home/data" "$home/config"
python3 - "$home" <<'PY'
import json, sys, uuid
home = sys.argv[1]
alerts = []
for i in range(20):
    coin = "BTC" if i % 2 == 0 else "ETH"
    above = i % 4 < 2
    level = (200000 + i if above else 1000 + i) if coin == "BTC" else (9000 + i if above else 100 + i)
    alerts.append({"id": str(uuid.uuid4()), "coin": coin, "above": above, "price": str(level),
                   "created": "2026-12-01T00:00:00Z"})
json.dump(alerts, open(f"{home}/data/alerts.json", "w"))
tasks = [{"id": str(uuid.uuid4()), "steps": [f"buy SOL for {10 + i} USDC"], "next": "2099-01-01T09:00:00Z",
          "every": {"days": {"_0": 1 + i}}} for i in range(5)]
json.dump({"tasks": json.dumps(tasks)}, open(f"{home}/config/defaults.json", "w"))
PY

ORWENNA_HOME=$home ORWENNA_HL_API=http://127.0.0.1:$port "$bin" serve --no-browser >"$home/app.log" 2>&1 &
app=$!
sleep 10  # start-up, the first market reads
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
before=$(cpu)
reads_before=$(cat "$home/port.requests" 2>/dev/null || echo 0)
sleep "$seconds"
after=$(cpu)
reads=$(( $(cat "$home/port.requests" 2>/dev/null || echo 0) - reads_before ))
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$app/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$app/status")
armed=$(python3 -c "import json,sys; print(len(json.load(open(sys.argv[1]))))" "$home/data/alerts.json")
awk -v d=$((after - before)) -v t="$ticks" -v s="$seconds" -v r="$rss" -v h="$hwm" -v a="$armed" -v n="$reads" 'BEGIN {
  printf "idle app, %d alerts still armed and 5 tasks, %d s, %d market reads: CPU %.3f%%, RSS %.1f MB (peak %.1f MB)\n",
         a, s, n, 100 * d / t / s, r / 1024, h / 1024 }'
