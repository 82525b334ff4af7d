#!/usr/bin/env bash
# The manual page of ruxd-sim documents every option of its usage text in
# OPTIONS and every fault the usage text names in FAULTS.
#   sim_man_covers_usage_test.sh RUXD_SIM MANPAGE
set -uo pipefail
source "$(dirname "$0")/lib.sh"
sim=$1 manpage=$2
require_tool mandoc mandoc

make_scratch
render_man "$manpage" >"$scratch/man.txt" || { echo "mandoc failed" >&2; exit 1; }
section() {
  awk -v want="$1" '/^[A-Z]/ { inside = ($0 == want); next } inside' "$scratch/man.txt"
}

usage=$("$sim" --help) || fail "--help exits 0"
options=$(grep -Eo '^  (-h, )?--[a-z-]+' <<<"$usage" | grep -Eo -- '--[a-z-]+')
(($(wc -l <<<"$options") >= 6)) || fail "found only $(wc -l <<<"$options") options in the usage text"
for option in $options; do
  if section OPTIONS | grep -Eq -- "^     (-h, )?$option( |$)"; then
    pass "option $option is documented"
  else
    fail "option $option is documented in OPTIONS"
  fi
done

# "node NODE offline" in the usage text is "node node offline" in the page.
faults=$(sed -n '/--inject FAULT/,/-h, --help/p' <<<"$usage" | grep -Eo '(node NODE (offline|online)|service NAME fail|daemon silent|reset)')
[[ -n $faults ]] || fail "no faults found in the usage text"
while read -r fault; do
  entry=$(tr '[:upper:]' '[:lower:]' <<<"$fault")
  if section FAULTS | grep -Eq "^     $entry( |$)"; then
    pass "fault '$fault' is documented"
  else
    fail "fault '$fault' is documented in FAULTS"
  fi
done <<<"$faults"

finish
