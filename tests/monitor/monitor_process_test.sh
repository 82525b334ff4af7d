#!/usr/bin/env bash
# The built monitors against ruxd-sim with injected faults, read by the tools
# that read them in production: the plugin's output by the Monitoring::Plugin
# library, the exporter's scrapes by promtool and a Prometheus server.
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

# http_get URL [QUERY]: the body of a GET, QUERY sent as the "query" parameter.
http_get() {
  python3 -c 'import sys, urllib.parse, urllib.request
url = sys.argv[1] + ("?query=" + urllib.parse.quote(sys.argv[2]) if len(sys.argv) > 2 else "")
sys.stdout.write(urllib.request.urlopen(url, timeout=5).read().decode())' "$@" 2>/dev/null
}
endpoint="ipc://$scratch/sim.sock"
write_cluster_config "$repo/examples/cluster.json" "$endpoint" "$scratch/cluster.json" || fail "write the cluster"
mkdir -p "$scratch/bin"
cp "$check_program" "$scratch/bin/check_tarnex"
[[ -n $exporter_program ]] && cp "$exporter_program" "$scratch/bin/tarnex_exporter"
printf '[RUXD]\nConfig = %s\n' "$scratch/cluster.json" >"$scratch/bin/tarnex-viravi.config"
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

exporter_port=""
prometheus_port=""
if [[ -n $exporter_program ]]; then
  "$scratch/bin/tarnex_exporter" --web.listen-address=127.0.0.1:0 --timeout=0.2 2>"$scratch/exporter.log" &
  background_pids="$background_pids $!"
  for ((i = 0; i < 100; i++)); do
    exporter_port=$(sed -n 's/.*listening on port \([0-9]*\),.*/\1/p' "$scratch/exporter.log")
    [[ -n $exporter_port ]] && break
    sleep 0.05
  done
  [[ -n $exporter_port ]] || { fail "the exporter did not start: $(cat "$scratch/exporter.log")"; finish; }
  prometheus_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$scratch/prometheus.yml" <<YML
global: {scrape_interval: 500ms, scrape_timeout: 500ms, evaluation_interval: 500ms}
scrape_configs:
  - job_name: tarnex
    static_configs: [{targets: ['127.0.0.1:$exporter_port']}]
YML
  prometheus --config.file="$scratch/prometheus.yml" --storage.tsdb.path="$scratch/data" \
    --web.listen-address="127.0.0.1:$prometheus_port" >"$scratch/prometheus.log" 2>&1 &
  background_pids="$background_pids $!"
fi

# scrape NAME: one scrape passes promtool check metrics; the scrape is in $scraped.
scrape() {
  scraped=$(http_get "http://127.0.0.1:$exporter_port/metrics")
  check "$1: scrape answered" 0 $?
  local lint
  lint=$(promtool check metrics <<<"$scraped" 2>&1)
  check "$1: promtool check metrics" "0:" "$?:$lint"
}

# query_until NAME QUERY VALUE: Prometheus answers VALUE for QUERY within 15 s.
query_until() {
  local value="" i
  for ((i = 0; i < 150; i++)); do
    value=$(http_get "http://127.0.0.1:$prometheus_port/api/v1/query" "$2" |
      python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "")' \
        2>/dev/null)
    [[ $value == "$3" ]] && break
    sleep 0.1
  done
  check "$1" "$3" "$value"
}

check_plugin "healthy" 0 "TARNEX OK - 4 enabled services ONLINE, 3 nodes ONLINE |"
if [[ -n $exporter_program ]]; then
  check "landing page links the metrics" 1 "$(http_get "http://127.0.0.1:$exporter_port/" | grep -c 'href="/metrics"')"
  scrape "healthy"
  query_until "Prometheus: tarnex_up while the daemon answers" "tarnex_up" 1
fi

inject "node nas-b offline"
check_plugin "node offline" 1 "TARNEX WARNING - 4 enabled services ONLINE, 1 of 3 nodes not ONLINE or disabled (nas-b)"
check_plugin "node offline, --nodes-critical=0" 2 "TARNEX CRITICAL" --nodes-critical=0
if [[ -n $exporter_program ]]; then
  scrape "node offline"
  query_until "Prometheus: nas-b OFFLINE" 'tarnex_node_state{node="nas-b",state="OFFLINE"}' 1
fi

inject "service zpool_z01 fail"
check_plugin "service failed" 2 "TARNEX CRITICAL - 1 of 4 enabled services not ONLINE (zpool_z01)"
check_plugin "service failed under -w 1 -c 2" 1 "TARNEX WARNING" -w 1 -c 2
[[ -n $exporter_program ]] && scrape "service failed"

inject "daemon silent 3s"
check_plugin "daemon silent" 3 "TARNEX UNKNOWN - no reply from $endpoint within 1 s" -t 1
if [[ -n $exporter_program ]]; then
  scrape "daemon silent"
  check "daemon silent: tarnex_up 0" "tarnex_up 0" "$(grep "^tarnex_up " <<<"$scraped")"
fi

for pid in $background_pids; do
  if grep -q ruxd-sim "/proc/$pid/cmdline" 2>/dev/null; then kill "$pid" && wait "$pid" 2>/dev/null; fi
done
check_plugin "daemon gone" 3 "TARNEX UNKNOWN - no reply from $endpoint within 1 s" -t 1
[[ -n $exporter_program ]] && query_until "Prometheus: tarnex_up once the daemon is gone" "tarnex_up" 0

cd "$repo/examples/prometheus" || fail "examples"
lint=$(promtool check rules tarnex-alerts.yml 2>&1)
check "promtool check rules" "0" "$?"
lint=$(promtool test rules tarnex-alerts-test.yml 2>&1)
check "promtool test rules (the alerts fire)" "0" "$?"
finish
