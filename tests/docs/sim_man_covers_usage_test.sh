#!/usr/bin/env bash
# The manual page of ruxd-sim documents every option of its usage text in
# OPTIONS and every fault the usage text names in FAULTS.
#   sim_man_covers_usage_test.sh RUXD_SIM MANPAGE
set -uo pipefail
source "$(dirname "$0")/lib.sh"
sim=$1 manpage=$2
require_tool mandoc mandoc

usage=$("$sim" --help) || fail "--help exits 0"
page=$(render_man "$manpage") || fail "mandoc renders the page"
# The entries of one section of the page, as "-h, --help" or "node node offline".
entries() { awk -v want="$1" '/^[A-Z]/ { inside = ($0 == want); next } inside && /^     [^ ]/' <<<"$page"; }

options=$(grep -Eo '^  (-h, )?--[a-z-]+' <<<"$usage" | grep -Eo -- '--[a-z-]+')
faults=$(sed -n '/--inject FAULT/,/-h, --help/p' <<<"$usage" |
  grep -Eo 'node NODE offline|node NODE online|service NAME fail|daemon silent|reset' | tr '[:upper:]' '[:lower:]')
check "the usage text shows seven options and five faults" "7 5" "$(wc -l <<<"$options") $(wc -l <<<"$faults")"
while read -r option; do
  entries OPTIONS | grep -Eq -- "^     (-h, )?$option( |$)" && pass "option $option" || fail "option $option in OPTIONS"
done <<<"$options"
while read -r fault; do
  entries FAULTS | grep -Eq "^     $fault( |$)" && pass "fault $fault" || fail "fault '$fault' in FAULTS"
done <<<"$faults"

finish
