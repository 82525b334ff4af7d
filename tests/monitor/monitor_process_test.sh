#!/usr/bin/env bash
# The built monitors against ruxd-sim with injected faults, read by the tools
# that read them in production: the plugin's output by the Monitoring::Plugin
# library, the exporter's scrapes by promtool and a Prometheus server. Also
# what only a started exporter shows: concurrent scrapes on a silent daemon,
# slow HTTP clients, a port in use, SIGTERM during a scrape. Every wait is for
# a condition, with a bound far above what the step takes.
#   monitor_process_test.sh RUXD_SIM REPO CHECK_TARNEX [TARNEX_EXPORTER]
set -uo pipefail
# shellcheck source=../docs/lib.sh
source "$2/tests/docs/lib.sh"
sim=$(absolute "$1")
repo=$(absolute "$2")
check_program=$(absolute "$3")
exporter_program=$(absolute "${4:-}")
require_tool perl perl
perl -MMonitoring::Plugin::Performance -e 1 2>/dev/null || require_tool missing-monitoring-plugin libmonitoring-plugin-perl
require_tool promtool prometheus
require_tool prometheus prometheus

make_scratch
background_pids=""

# http_get URL [QUERY]: the body of a GET, QUERY sent as the "query" parameter.
http_get() {
  python3 -c 'import sys, urllib.parse, urllib.request
url = sys.argv[1] + ("?query=" + urllib.parse.quote(sys.argv[2]) if len(sys.argv) > 2 else "")
sys.stdout.write(urllib.request.urlopen(url, timeout=30).read().decode())' "$@" 2>/dev/null
}

# until_true SECONDS COMMAND...: runs COMMAND every tenth of a second until it
# succeeds or SECONDS have passed.
until_true() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_exporter NAME PORT ARGS...: starts the exporter with ARGS on PORT of
# the loopback address (0: a free one); the port goes into ports[NAME], its
# id into pids[NAME].
declare -A ports pids
start_exporter() {
  local name=$1 port=$2
  shift 2
  "$scratch/bin/tarnex_exporter" --web.listen-address="127.0.0.1:$port" "$@" >/dev/null 2>"$scratch/exporter-$name.log" &
  local pid=$!
  background_pids="${background_pids:-} $pid"
  pids[$name]=$pid
  local log=$scratch/exporter-$name.log
  until_true 30 grep -qs 'listening on port' "$log" || fail "exporter $name did not start: $(cat "$log")"
  ports[$name]=$(sed -n 's/.*listening on port \([0-9]*\),.*/\1/p' "$log")
}

endpoint="ipc://$scratch/sim.sock"
nobody="ipc://$scratch/nobody.sock" # a daemon that never answers
mkdir -p "$scratch/bin"
cp "$check_program" "$scratch/bin/check_tarnex"
[[ -n $exporter_program ]] && cp "$exporter_program" "$scratch/bin/tarnex_exporter"
printf '[RUXD]\nConfig = %s\n' "$scratch/cluster.json" >"$scratch/bin/tarnex-viravi.config"

exporter_port=""
prometheus_port=""
if [[ -n $exporter_program ]]; then
  # Prometheus takes the longest to start: first.
  exporter_port=$(free_port)
  prometheus_port=$(free_port)
  cat >"$scratch/prometheus.yml" <<YML
global: {scrape_interval: 500ms, scrape_timeout: 500ms, evaluation_interval: 500ms}
scrape_configs:
  - job_name: tarnex
    static_configs: [{targets: ['127.0.0.1:$exporter_port']}]
YML
  prometheus --config.file="$scratch/prometheus.yml" --storage.tsdb.path="$scratch/data" \
    --web.listen-address="127.0.0.1:$prometheus_port" >"$scratch/prometheus.log" 2>&1 &
  background_pids="$background_pids $!"

  # The cluster's configuration does not exist yet: the exporter serves all
  # the same, and reads it again at every scrape.
  # Prometheus's wait of half a second leaves no time by itself: the bound is
  # --timeout.
  start_exporter main "$exporter_port" --timeout=0.3
  start_exporter silent 0 "--ruxd.endpoint=$nobody" --timeout=2
  start_exporter held 0 "--ruxd.endpoint=$nobody" --timeout=60

  # Six scrapes at once on a daemon that never answers, --timeout=2: all
  # share the one exchange. One after the other, the second would end after
  # 4 s; the bound asserted is 3.9 s. Runs while the checks below go on.
  python3 - "${ports[silent]}" >"$scratch/six.txt" 2>&1 <<'EOF' &
import sys, threading, time, urllib.request
port, start, results = sys.argv[1], threading.Barrier(6), []
def scrape():
    start.wait()
    began = time.monotonic()
    page = urllib.request.urlopen("http://127.0.0.1:%s/metrics" % port, timeout=60).read().decode()
    results.append((time.monotonic() - began, "\ntarnex_up 0\n" in "\n" + page))
threads = [threading.Thread(target=scrape) for _ in range(6)]
for thread in threads: thread.start()
for thread in threads: thread.join()
print(sum(1 for _, down in results if down), "%.2f" % max(t for t, _ in results))
EOF
  six_scrapes=$!

  first=$(http_get "http://127.0.0.1:$exporter_port/metrics")
  check "no configuration: tarnex_up 0" "tarnex_up 0" "$(grep '^tarnex_up ' <<<"$first")"
  http_get "http://127.0.0.1:$exporter_port/metrics" >/dev/null
  check "no configuration: the reason written once" 1 "$(grep -c 'cluster.json' "$scratch/exporter-main.log")"
fi

write_cluster_config "$repo/examples/cluster.json" "$endpoint" "$scratch/cluster.json" || fail "write the cluster"
start_sim "$sim" "$scratch/cluster.json" "$endpoint" "$scratch/sim.log" --op-ms 0 || { fail "start ruxd-sim"; finish; }

inject() {
  "$sim" --config "$scratch/cluster.json" --inject "$1" >/dev/null || fail "inject $1"
}

# check_plugin NAME STATUS FIRST-WORDS [ARGS...]: the run ends with STATUS,
# its first line starts with FIRST-WORDS, and Monitoring::Plugin reads every
# perfdata item it prints.
check_plugin() {
  local name=$1 status=$2 words=$3
  shift 3
  local out got
  out=$("$scratch/bin/check_tarnex" "$@")
  got=$?
  check "$name: exit status" "$status" "$got"
  check "$name: first line" "$words" "${out:0:${#words}}"
  local first=${out%%$'\n'*}
  [[ $first == *'|'* ]] || return 0
  local perfdata=${first#*| }
  local items parsed
  items=$(wc -w <<<"$perfdata")
  parsed=$(perl -MMonitoring::Plugin::Performance -e \
    'print scalar(Monitoring::Plugin::Performance->parse_perfstring($ARGV[0])), "\n"' "$perfdata")
  check "$name: Monitoring::Plugin parses all $items perfdata items" "$items" "$parsed"
}

# up_is VALUE: a scrape (saved in $scraped) shows tarnex_up VALUE. A scrape
# that comes while an exchange begun before a change runs gets that
# exchange's page, so callers ask again until the change shows.
# shellcheck disable=SC2317 # called through until_true
up_is() {
  scraped=$(http_get "http://127.0.0.1:$exporter_port/metrics")
  [[ $(grep '^tarnex_up ' <<<"$scraped") == "tarnex_up $1" ]]
}

# scrape NAME UP: a scrape shows tarnex_up UP within 30 s and passes
# promtool check metrics.
scrape() {
  until_true 30 up_is "$2"
  check "$1: tarnex_up $2" "tarnex_up $2" "$(grep '^tarnex_up ' <<<"$scraped")"
  local lint
  lint=$(promtool check metrics <<<"$scraped" 2>&1)
  check "$1: promtool check metrics" "0:" "$?:$lint"
}

# query_until NAME QUERY VALUE: Prometheus answers VALUE for QUERY within 60 s.
# shellcheck disable=SC2317 # called through until_true
query_is() {
  value=$(http_get "http://127.0.0.1:$prometheus_port/api/v1/query" "$1" |
    python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "")' \
      2>/dev/null)
  [[ $value == "$2" ]]
}
query_until() {
  local value=""
  until_true 60 query_is "$2" "$3"
  check "$1" "$3" "$value"
}

check_plugin "healthy" 0 "TARNEX OK - 4 enabled services ONLINE, 3 nodes ONLINE |"
if [[ -n $exporter_program ]]; then
  check "landing page links the metrics" 1 "$(http_get "http://127.0.0.1:$exporter_port/" | grep -c 'href="/metrics"')"
  scrape "configuration written, no restart" 1
  # While Prometheus starts: what only a started exporter shows.
  # Sixteen clients send their request heads a byte at a time; a scrape is
  # answered all the same, within 2 s of its exchange's end.
  slow=$(python3 - "$exporter_port" <<'EOF'
import socket, sys, threading, time, urllib.request
port = int(sys.argv[1])
slow = [socket.create_connection(("127.0.0.1", port)) for _ in range(16)]
for connection in slow: connection.sendall(b"GET /metrics HTTP/1.1\r\nX-Slow: ")
stop = threading.Event()
def trickle():
    while not stop.wait(0.2):
        for connection in slow: connection.sendall(b"a")
threading.Thread(target=trickle, daemon=True).start()
time.sleep(0.2)
began = time.monotonic()
page = urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=60).read().decode()
took = time.monotonic() - began
exchange = float([l.split()[1] for l in page.splitlines() if l.startswith("tarnex_scrape_duration_seconds ")][0])
stop.set()
for connection in slow: connection.setblocking(False)
def still_open(connection):
    try:
        return connection.recv(1, socket.MSG_PEEK) != b""
    except BlockingIOError:
        return True
print("answered" if took - exchange < 2 else "answered after %.2f s" % took,
      sum(1 for connection in slow if still_open(connection)), "slow clients still sending")
EOF
  )
  check "16 slow clients: a scrape is answered" "answered 16 slow clients still sending" "$slow"
  "$scratch/bin/tarnex_exporter" --web.listen-address="127.0.0.1:$exporter_port" 2>"$scratch/in-use.log"
  check "port in use: status" 1 "$?"
  check "port in use: message" "tarnex_exporter: cannot listen on 127.0.0.1:$exporter_port: Address already in use" \
    "$(cat "$scratch/in-use.log")"

  # SIGTERM while a scrape waits on a daemon that never answers (--timeout=60):
  # the exporter ends at once, with status 0.
  threads() { find "/proc/${pids[held]}/task" -mindepth 1 -maxdepth 1 | wc -l; }
  before=$(threads)
  # shellcheck disable=SC2317 # called through until_true
  more_threads() { (($(threads) > before)); }
  http_get "http://127.0.0.1:${ports[held]}/metrics" >/dev/null &
  waiting_scrape=$!
  until_true 30 more_threads || fail "the scrape did not reach the exporter"
  sleep 0.2
  began=$(date +%s%N)
  kill -TERM "${pids[held]}"
  wait "${pids[held]}"
  status=$?
  took=$((($(date +%s%N) - began) / 1000000))
  check "SIGTERM during a scrape: status" 0 "$status"
  check "SIGTERM during a scrape: ended within 2 s" yes "$( ((took < 2000)) && echo yes || echo "$took ms")"
  wait "$waiting_scrape" 2>/dev/null
  query_until "Prometheus: tarnex_up while the daemon answers" "tarnex_up" 1
fi

inject "node nas-b offline"
check_plugin "node offline" 1 "TARNEX WARNING - 4 enabled services ONLINE, 1 of 3 nodes not ONLINE or disabled (nas-b)"
check_plugin "node offline, --nodes-critical=0" 2 "TARNEX CRITICAL" --nodes-critical=0
if [[ -n $exporter_program ]]; then
  scrape "node offline" 1
  query_until "Prometheus: nas-b OFFLINE" 'tarnex_node_state{node="nas-b",state="OFFLINE"}' 1
fi

inject "service zpool_z01 fail"
check_plugin "service failed" 2 "TARNEX CRITICAL - 1 of 4 enabled services not ONLINE (zpool_z01)"
check_plugin "service failed under -w 1 -c 2" 1 "TARNEX WARNING" -w 1 -c 2

if [[ -n $exporter_program ]]; then
  scrape "service failed" 1
fi

inject "daemon silent 3s"
if [[ -n $exporter_program ]]; then
  # Beside the plugin's wait; its checks count here through its status.
  (
    failures=0
    scrape "daemon silent" 0
    ((failures == 0))
  ) >"$scratch/silent.txt" 2>&1 &
  silent_scrape=$!
fi
check_plugin "daemon silent" 2 "TARNEX CRITICAL - no reply from $endpoint within 1 s" -t 1
if [[ -n $exporter_program ]]; then
  wait "$silent_scrape" || fail "daemon silent: the exporter's scrape (above)"
  cat "$scratch/silent.txt"
fi

for pid in $background_pids; do
  if grep -q ruxd-sim "/proc/$pid/cmdline" 2>/dev/null; then kill "$pid" && wait "$pid" 2>/dev/null; fi
done
check_plugin "daemon gone, -t 1:unknown" 3 "TARNEX UNKNOWN - no reply from $endpoint within 1 s" -t 1:unknown

if [[ -n $exporter_program ]]; then
  query_until "Prometheus: tarnex_up once the daemon is gone" "tarnex_up" 0

  wait "$six_scrapes"
  read -r down slowest <"$scratch/six.txt"
  check "six concurrent scrapes on a silent daemon: all tarnex_up 0" 6 "$down"
  check "six concurrent scrapes on a silent daemon: the slowest within 3.9 s (--timeout=2)" yes \
    "$(python3 -c 'import sys; print("yes" if float(sys.argv[1]) < 3.9 else sys.argv[1])' "$slowest")"

fi

cd "$repo/examples/prometheus" || fail "examples"
lint=$(promtool check rules tarnex-alerts.yml 2>&1)
check "promtool check rules" "0" "$?"
lint=$(promtool test rules tarnex-alerts-test.yml 2>&1)
check "promtool test rules (the alerts fire)" "0" "$?"
[[ $lint == *SUCCESS* ]] || echo "$lint" >&2
finish
