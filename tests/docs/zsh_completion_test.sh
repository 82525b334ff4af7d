#!/usr/bin/env bash
# The zsh completion, in a real interactive zsh (on a pseudo-terminal, with
# compinit): system words, actions, options of each system, option values,
# node and service names from a stand-in program and from the real program
# against the simulated daemon, and a silent daemon that must not hold up
# the shell.
#   zsh_completion_test.sh COMPLETION_DIR PROGRAM EXAMPLE_CLUSTER [RUXD_SIM]
set -uo pipefail
source "$(dirname "$0")/lib.sh"
completion_dir=$(absolute "$1") program=$(absolute "$2") example_cluster=$(absolute "$3") sim=$(absolute "${4:-}")
require_tool zsh zsh
driver=$(absolute "$(dirname "$0")/zsh_completion.zsh")

make_scratch
write_stub "$scratch/bin/tarnex-viravi"
# Every shell runs where a name from the daemon that was run as a command
# would leave its file.
cd "$scratch" || exit 1

# compinit's dump, made once here so that the shells below, which run side by
# side, only read it.
dump=$scratch/zcompdump
zsh -f -c 'fpath=("$1" $fpath); autoload -Uz compinit && compinit -u -d "$2"' _ "$completion_dir" "$dump" ||
  fail "compinit makes its dump"

# start_lines NAME : completes each line of "LINE;CANDIDATES" on stdin in one
# interactive zsh, in the background; check_lines NAME then waits for it and
# checks the candidates. The shells run side by side: most of their time is
# spent waiting for a silent program.
declare -A zsh_pids
start_lines() {
  local name=$1 line candidates
  local -a lines=()
  cat >"$scratch/$name.expected"
  while IFS=';' read -r line candidates; do
    lines+=("$line")
  done <"$scratch/$name.expected"
  zsh -f "$driver" "$completion_dir" "$scratch/bin" "$dump" "${lines[@]}" \
    >"$scratch/$name.answers" 2>"$scratch/$name.err" &
  zsh_pids[$name]=$!
  background_pids="${background_pids:-} $!"
}

# answers NAME : waits for its shell; candidates_of and took_ms then read its
# answers ("<line>:<candidate>" and "<line>:took <ms>").
answers() {
  if ! wait "${zsh_pids[$1]}"; then
    fail "the zsh driver failed: $(cat "$scratch/$1.err")"
  fi
  answers=$scratch/$1.answers
}

candidates_of() {
  grep -F -- "$1:" "$answers" | grep -Fv -- "$1:took " | while IFS= read -r l; do
    [[ $l == "$1:"* ]] && printf '%s\n' "${l#"$1:"}"
  done | sort
}

took_ms() {
  grep -F -- "$1:took " "$answers" | tail -1 | awk '{ print $NF }'
}

check_lines() {
  local line candidates
  answers "$1"
  while IFS=';' read -r line candidates; do
    check "zsh: '$line' offers: $candidates" \
      "$(tr ' ' '\n' <<<"$candidates" | sed '/^$/d' | sort)" "$(candidates_of "$line")"
  done <"$scratch/$1.expected"
}

# A stand-in that never answers, then the real program whose daemon never
# answers (nothing listens at its endpoint), each in a shell of its own: the
# two waits overlap with each other and with the rest.
write_cluster_config "$example_cluster" "ipc://$scratch/silent.sock" "$scratch/silent.json" ||
  fail "write the configuration of the silent daemon"
install_client "$program" "$scratch/silent" "$scratch/silent.json"
p=tarnex-viravi
STUB_MODE=silent start_lines silent_stub <<<"$p node disable --id=;"
start_lines silent_real <<<"$scratch/silent/tarnex-viravi node disable --id=;"
timeout 0.5 "$scratch/silent/tarnex-viravi" node list >/dev/null 2>&1 &
probe_pid=$!

start_lines words <<EOF
$p ;cluster node service
$p -;--help --timeout --version -h -v
$p cluster ;status exit
$p node ;list status info enable disable break exit
$p node e;enable exit
$p service ;list status info help start stop move enable disable break
$p cluster status -;--help --output --timeout -h -o
$p cluster status --output=;table json
$p cluster status -o ;table json
$p node list -;--help --timeout -h
$p node disable -;--help --id --timeout -h -n
$p node exit -;--force --help --id --timeout -f -h -n
$p service list -;--help --timeout -h
$p service stop -;--help --name --timeout -h -s
$p service move -;--help --name --node --timeout -h -n -s
$p node disable --id=;1 2 nas-a nas-b odd
$p node status -n ;1 2 nas-a nas-b odd
$p service move -s x --node=;1 2 nas-a nas-b odd
$p service start -s x --node=;1 2
$p service stop --name=;archive zpool_z01 zpool_z02
$p service stop --name=zpool;zpool_z01 zpool_z02
EOF

# Names are the daemon's text: offered as they are, never run.
STUB_MODE=hostile start_lines hostile <<EOF
$p node disable --id=;
$p service stop --name=;
EOF

if [[ -n $sim ]]; then
  endpoint="ipc://$scratch/sim.sock"
  write_cluster_config "$example_cluster" "$endpoint" "$scratch/cluster.json" ||
    fail "write the configuration of the simulated daemon"
  install_client "$program" "$scratch/real" "$scratch/cluster.json"
  if start_sim "$sim" "$scratch/cluster.json" "$endpoint" "$scratch/sim.log"; then
    r=$scratch/real/tarnex-viravi
    start_lines sim <<EOF
$r node disable --id=;1 2 3 nas-a nas-b nas-c
$r service start --name=zpool_z05 --node=;1 2 3
$r service move --name=zpool_z0;zpool_z01 zpool_z02 zpool_z05
EOF
  else
    fail "start the simulated daemon"
  fi
fi

check_lines words

answers hostile
check "zsh: a hostile node name is offered as it is" "$(printf '%s\n' 1 '$(touch${IFS}pwned)' | sort)" \
  "$(candidates_of "$p node disable --id=")"
check "zsh: a hostile service name is offered as it is" '$(touch${IFS}pwned)' "$(candidates_of "$p service stop --name=")"

[[ -n ${zsh_pids[sim]:-} ]] && check_lines sim

# Nothing is offered, and the shell gets its prompt back within the second
# the program is given. The bound leaves a busy machine room and is still
# far below the stand-in's half minute and the real program's for ever.
wait "$probe_pid"
check "the real program waits for the silent daemon (killed by timeout)" 124 $?
for name in silent_stub silent_real; do
  answers "$name"
  line=$(cut -d';' -f1 "$scratch/$name.expected")
  check "zsh: '$line' with a silent daemon offers nothing" "" "$(candidates_of "$line")"
  ms=$(took_ms "$line")
  if [[ -n $ms ]] && ((ms < 15000)); then
    pass "zsh: a silent daemon is given up ($ms ms)"
  else
    fail "zsh: a silent daemon held the completion of '$line' (${ms:-no answer} ms)"
  fi
done

# After every shell has answered.
[[ -e $scratch/pwned ]] && fail "zsh: a name from the daemon was run as a command" ||
  pass "zsh: a name from the daemon is not run as a command"

finish
