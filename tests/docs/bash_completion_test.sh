#!/usr/bin/env bash
# Drives the bash completion function the way bash does (COMP_WORDS,
# COMP_CWORD) and checks the candidates: system words, actions, options and
# their values, node and service names from a stand-in program, from the real
# program against the simulated daemon, and that a silent daemon or a
# program without configuration neither hangs the shell nor writes on it.
#   bash_completion_test.sh COMPLETION_FILE PROGRAM EXAMPLE_CLUSTER [RUXD_SIM]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
completion=$(absolute "$1") program=$(absolute "$2") example_cluster=$(absolute "$3") sim=$(absolute "${4:-}")

source "$completion"
make_scratch

# complete_words WORD... : runs the completion with the last word as the one
# under the cursor; sets "result" to the sorted candidates, one line each,
# and "elapsed_ms" to the time taken. Anything written to stderr fails.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  local start=${EPOCHREALTIME/./} err=$scratch/stderr.$BASHPID
  _tarnex_viravi 2>"$err"
  elapsed_ms=$(((${EPOCHREALTIME/./} - start) / 1000))
  result=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
  [[ -s $err ]] && fail "completion of '$*' wrote to stderr: $(cat "$err")"
  return 0
}

# complete_later NAME WORD... : complete_words in the background, for
# completions that wait on a silent program: they wait side by side while the
# other checks run. collect NAME then waits for it and sets "result" and
# "elapsed_ms"; a failure in the background counts here.
declare -A later_pids
complete_later() {
  local name=$1
  shift
  (
    complete_words "$@"
    printf '%s\n' "$result" >"$scratch/$name.result"
    printf '%s\n' "$elapsed_ms" >"$scratch/$name.ms"
    exit $((failures > 0))
  ) &
  later_pids[$name]=$!
  background_pids="${background_pids:-} $!"
}

collect() {
  wait "${later_pids[$1]}" || failures=$((failures + 1))
  result=$(cat "$scratch/$1.result" 2>/dev/null)
  elapsed_ms=$(cat "$scratch/$1.ms" 2>/dev/null)
}

# A silent program gives up after the second it is given (--timeout=1);
# without that it would wait 30 s (the stand-in) or for ever (the real
# program). The bound is far above the second, for busy machines, and far
# below both.
give_up_ms=15000
given_up() {
  [[ -n $elapsed_ms ]] && ((elapsed_ms < give_up_ms))
}

# expect "WORDS (| separated, last one under the cursor)" "CANDIDATES"
expect() {
  local IFS='|'
  local -a words=($1)
  [[ $1 == *'|' ]] && words+=("")
  complete_words "${words[@]}"
  check "'$1' offers: $2" "$(tr ' ' '\n' <<<"$2" | sed '/^$/d' | sort)" "$result"
}

# With "=" among the word breaks, as bash has it by default, "--id=x"
# arrives as "--id", "=", "x".
p=tarnex-viravi
while IFS=';' read -r words candidates; do
  expect "$words" "$candidates"
done <<EOF
$p|;cluster node service
$p|n;node
$p|s;service
$p|-;-h --help -v --version --timeout=
$p|--v;--version
$p|cluster|;status exit
$p|cluster|e;exit
$p|node|;list status info enable disable break exit
$p|node|e;enable exit
$p|service|;list status info help start stop move enable disable break
$p|service|st;status start stop
$p|storage|;
$p|cluster|status|-;-h --help -o --output= --timeout=
$p|cluster|status|;-h --help -o --output= --timeout=
$p|cluster|status|--output|=|;table json
$p|cluster|status|--output|=|j;json
$p|cluster|status|-o|;table json
$p|-o|json|;cluster node service
$p|-o|json|cluster|;status exit
$p|--output|=|json|cluster|;status exit
$p|node|list|-;-h --help --timeout=
$p|node|disable|-;-h --help -n --id= --timeout=
$p|node|exit|-;-h --help -n --id= -f --force --timeout=
$p|node|exit|--id|=|3|-;-h --help -f --force --timeout=
$p|node|exit|-n|3|-f|-;-h --help --timeout=
$p|service|list|-;-h --help --timeout=
$p|service|help|-;-h --help --timeout=
$p|service|stop|-;-h --help -s --name= --timeout=
$p|service|move|-;-h --help -s --name= -n --node= --timeout=
$p|service|start|--name|=|x|-;-h --help -n --node= --timeout=
$p|service|start|-s|x|--node|=|1|-;-h --help --timeout=
$p|node|--|;
$p|node|--|-;
$p|node|list|--timeout|=|5|-;-h --help
EOF

# Without "=" among the word breaks the value stays in the option's word.
expect "$p|cluster|--output=" "--output=table --output=json"

# A stand-in program answers "node list" and "service list" as the real one
# prints them (including a node whose id could not be read), or stays silent.
stub=$scratch/bin/tarnex-viravi
write_stub "$stub"

# A silent stand-in, then the real program whose daemon never answers:
# nothing listens at the endpoint, so it would wait with dots for ever. These
# are waits: they start now and are collected at the end.
STUB_MODE=silent complete_later silent_stub "$stub" node disable --id = ""
write_cluster_config "$example_cluster" "ipc://$scratch/silent.sock" "$scratch/silent.json" ||
  fail "write the configuration of the silent daemon"
install_client "$program" "$scratch/silent" "$scratch/silent.json"
complete_later silent_nodes "$scratch/silent/tarnex-viravi" node disable --id = ""
complete_later silent_services "$scratch/silent/tarnex-viravi" service stop --name = ""
# Make sure the program really waits there, rather than failing at once.
timeout 0.5 "$scratch/silent/tarnex-viravi" node list >/dev/null 2>&1 &
probe_pid=$!

s=$stub
while IFS=';' read -r words candidates; do
  expect "$words" "$candidates"
done <<EOF
$s|node|disable|--id|=|;1 2 nas-a nas-b odd
$s|node|disable|--id|=|nas;nas-a nas-b
$s|node|status|-n|;1 2 nas-a nas-b odd
$s|service|move|-s|x|--node|=|;1 2 nas-a nas-b odd
$s|service|start|-s|x|--node|=|;1 2
$s|service|start|-s|x|-n|;1 2
$s|service|stop|--name|=|;archive zpool_z01 zpool_z02
$s|service|stop|--name|=|zpool;zpool_z01 zpool_z02
$s|service|status|-s|a;archive
EOF
expect "$s|node|disable|--id=n" "--id=nas-a --id=nas-b"

# The program found through PATH under its bare name is asked as well.
PATH="$scratch/bin:$PATH" expect "tarnex-viravi|node|enable|--id|=|" "1 2 nas-a nas-b odd"

# Names are the daemon's text: offered quoted, never expanded by the shell.
cd "$scratch" || exit 1
hostile='$(touch${IFS}pwned)'
printf -v quoted '%q' "$hostile"
STUB_MODE=hostile expect "$s|node|disable|--id|=|" "1 $quoted"
STUB_MODE=hostile expect "$s|service|stop|--name|=|" "$quoted"
STUB_MODE=hostile expect "$s|service|stop|--name|=|x" ""
[[ -e $scratch/pwned ]] && fail "a name from the daemon was run as a command" ||
  pass "a name from the daemon is not run as a command"

# A program that fails or is missing offers nothing and says nothing.
STUB_MODE=failing expect "$s|node|disable|--id|=|" ""
expect "$scratch/missing/tarnex-viravi|node|disable|--id|=|" ""

# The real program against the simulated daemon of the example cluster.
if [[ -n $sim ]]; then
  endpoint="ipc://$scratch/sim.sock"
  write_cluster_config "$example_cluster" "$endpoint" "$scratch/cluster.json" ||
    fail "write the configuration of the simulated daemon"
  install_client "$program" "$scratch/real" "$scratch/cluster.json"
  if start_sim "$sim" "$scratch/cluster.json" "$endpoint" "$scratch/sim.log"; then
    r=$scratch/real/tarnex-viravi
    expect "$r|node|disable|--id|=|" "1 2 3 nas-a nas-b nas-c"
    expect "$r|service|start|-s|zpool_z05|--node|=|" "1 2 3"
    expect "$r|service|move|--name|=|zpool_z0" "zpool_z01 zpool_z02 zpool_z05"
  else
    fail "start the simulated daemon"
  fi
else
  echo "note: no simulated daemon given; the real program was tried only against a silent one"
fi

# A silent program is given up after a second.
collect silent_stub
check "a silent stand-in offers nothing" "" "$result"
given_up && pass "a silent stand-in is given up (${elapsed_ms} ms)" ||
  fail "a silent stand-in held the completion ${elapsed_ms:-?} ms"
wait "$probe_pid"
check "the real program waits for the silent daemon (killed by timeout)" 124 $?
collect silent_nodes
check "the real program with a silent daemon offers nothing" "" "$result"
given_up && pass "a silent daemon is given up (${elapsed_ms} ms)" ||
  fail "a silent daemon held the completion ${elapsed_ms:-?} ms"
collect silent_services
given_up && pass "service names: a silent daemon is given up (${elapsed_ms} ms)" ||
  fail "service names: a silent daemon held the completion ${elapsed_ms:-?} ms"

finish
