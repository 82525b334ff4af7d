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

# run_zsh LINE... : completes each line in one interactive zsh; the answers
# go to $scratch/answers ("<line>:<candidate>" and "<line>:took <ms>").
run_zsh() {
  if ! zsh -f "$driver" "$completion_dir" "$scratch/bin" "$@" >"$scratch/answers" 2>"$scratch/zsh.err"; then
    fail "the zsh driver failed: $(cat "$scratch/zsh.err")"
  fi
}

candidates_of() {
  grep -F -- "$1:" "$scratch/answers" | grep -Fv -- "$1:took " | while IFS= read -r l; do
    [[ $l == "$1:"* ]] && printf '%s\n' "${l#"$1:"}"
  done | sort
}

took_ms() {
  grep -F -- "$1:took " "$scratch/answers" | tail -1 | awk '{ print $NF }'
}

expect_lines() {
  local -a lines=() wanted=()
  local line candidates
  while IFS=';' read -r line candidates; do
    lines+=("$line")
    wanted+=("$candidates")
  done
  run_zsh "${lines[@]}"
  local i
  for i in "${!lines[@]}"; do
    check "zsh: '${lines[i]}' offers: ${wanted[i]}" \
      "$(tr ' ' '\n' <<<"${wanted[i]}" | sed '/^$/d' | sort)" "$(candidates_of "${lines[i]}")"
  done
}

p=tarnex-viravi
expect_lines <<EOF
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
cd "$scratch" || exit 1
STUB_MODE=hostile run_zsh "$p node disable --id=" "$p service stop --name="
check "zsh: a hostile node name is offered as it is" "$(printf '%s\n' 1 '$(touch${IFS}pwned)' | sort)" \
  "$(candidates_of "$p node disable --id=")"
check "zsh: a hostile service name is offered as it is" '$(touch${IFS}pwned)' "$(candidates_of "$p service stop --name=")"
[[ -e $scratch/pwned ]] && fail "zsh: a name from the daemon was run as a command" ||
  pass "zsh: a name from the daemon is not run as a command"

# A stand-in that never answers, then the real program whose daemon never
# answers (nothing listens at its endpoint): nothing is offered, and the
# shell gets its prompt back within the second the program is given (two at
# the most, if it has to be killed), plus the test shell's own overhead.
write_cluster_config "$example_cluster" "ipc://$scratch/silent.sock" "$scratch/silent.json" ||
  fail "write the configuration of the silent daemon"
install_client "$program" "$scratch/silent" "$scratch/silent.json"
timeout 0.5 "$scratch/silent/tarnex-viravi" node list >/dev/null 2>&1
check "the real program waits for the silent daemon (killed by timeout)" 124 $?
silent_line="$scratch/silent/tarnex-viravi node disable --id="
STUB_MODE=silent run_zsh "$p node disable --id=" "$silent_line"
for line in "$p node disable --id=" "$silent_line"; do
  check "zsh: '$line' with a silent daemon offers nothing" "" "$(candidates_of "$line")"
  ms=$(took_ms "$line")
  if [[ -n $ms ]] && ((ms < 4000)); then
    pass "zsh: a silent daemon is given up ($ms ms)"
  else
    fail "zsh: a silent daemon held the completion of '$line' (${ms:-no answer} ms)"
  fi
done

if [[ -n $sim ]]; then
  endpoint="ipc://$scratch/sim.sock"
  write_cluster_config "$example_cluster" "$endpoint" "$scratch/cluster.json" ||
    fail "write the configuration of the simulated daemon"
  install_client "$program" "$scratch/real" "$scratch/cluster.json"
  if start_sim "$sim" "$scratch/cluster.json" "$endpoint" "$scratch/sim.log"; then
    r=$scratch/real/tarnex-viravi
    expect_lines <<EOF
$r node disable --id=;1 2 3 nas-a nas-b nas-c
$r service start --name=zpool_z05 --node=;1 2 3
$r service move --name=zpool_z0;zpool_z01 zpool_z02 zpool_z05
EOF
  else
    fail "start the simulated daemon"
  fi
fi

finish
