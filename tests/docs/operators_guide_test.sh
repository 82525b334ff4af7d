#!/usr/bin/env bash
# The operator's guide shows real output: every ```console block of the
# guide is replayed, in order, against one simulated daemon of the example
# cluster, and each command ("$ ..." line) must print exactly the lines that
# follow it (standard output and standard error together; trailing blanks
# are not compared, since the text tables end some lines in blanks).
#   operators_guide_test.sh PROGRAM RUXD_SIM EXAMPLE_CLUSTER GUIDE
# With GUIDE_PRINT=1 it prints the session as it runs now instead.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
program=$(absolute "$1") sim=$(absolute "$2") example_cluster=$(absolute "$3") guide=$(absolute "$4")

[[ -f $guide ]] || { fail "no guide at $guide"; finish; }
make_scratch
endpoint="ipc://$scratch/sim.sock"
write_cluster_config "$example_cluster" "$endpoint" "$scratch/cluster.json" ||
  fail "write the configuration of the simulated daemon"
# Started under its bare name from its own directory, as the guide shows it,
# the program finds the settings file in the current directory.
install_client "$program" "$scratch/client" "$scratch/cluster.json"
# The guide's own ruxd-sim commands (--inject) go to the daemon started here.
printf '#!/bin/sh\nexec "%s" --config "%s" "$@"\n' "$sim" "$scratch/cluster.json" >"$scratch/client/ruxd-sim"
chmod +x "$scratch/client/ruxd-sim"
# Starts and stops take no time here: the requests wait for them to end, so
# the output is the same as with the guide's daemon, only sooner.
start_sim "$sim" "$scratch/cluster.json" "$endpoint" "$scratch/sim.log" --op-ms 0 || { fail "start the simulated daemon"; finish; }

# The commands and their expected output, as "$ command" and plain lines,
# one block after the other.
awk '
  /^```console$/ { inside = 1; next }
  /^```/ { inside = 0; next }
  inside' "$guide" >"$scratch/session"

run() {
  (cd "$scratch/client" && PATH="$scratch/client:$PATH" bash -c "$1" </dev/null 2>&1) | sed 's/[[:blank:]]*$//'
}

commands=0
command=""
expected_lines=()
flush() {
  [[ -z $command ]] && return
  commands=$((commands + 1))
  local actual expected
  actual=$(run "$command")
  expected=$(printf '%s\n' "${expected_lines[@]}" | sed 's/[[:blank:]]*$//')
  if [[ -n ${GUIDE_PRINT:-} ]]; then
    printf '$ %s\n%s\n' "$command" "$actual"
  else
    check "\$ $command" "$expected" "$actual"
  fi
}
while IFS= read -r line; do
  if [[ $line == '$ '* ]]; then
    flush
    command=${line#'$ '}
    expected_lines=()
  else
    expected_lines+=("$line")
  fi
done <"$scratch/session"
flush
((commands >= 10)) || fail "the guide shows only $commands commands to replay"

finish
