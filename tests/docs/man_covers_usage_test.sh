#!/usr/bin/env bash
# The manual page documents every system, action and option that the built
# program's usage texts show, every example of the top-level text, and
# exactly the exit statuses the program defines; and it names no action that
# the program does not have.
#   man_covers_usage_test.sh PROGRAM MANPAGE EXIT_STATUS_HEADER
set -uo pipefail
source "$(dirname "$0")/lib.sh"
program=$1 manpage=$2 exit_header=$3
require_tool mandoc mandoc

make_scratch
render_man "$manpage" >"$scratch/man.txt" || { echo "mandoc failed" >&2; exit 1; }

# Prints the two-column entries ("  name   description") of one section of a
# usage text; continuation lines are indented further and are skipped.
usage_entries() {
  awk -v want="$1" '
    /^[A-Z]+:$/ { section = $0; next }
    section == want && /^  [^ ]/ { print }'
}

# The section of the rendered page between its heading and the next one.
man_section() {
  awk -v want="$1" '/^[A-Z]/ { inside = ($0 == want); next } inside' "$scratch/man.txt"
}

top=$("$program" -h) || fail "-h exits 0"
systems=$(usage_entries SUBSYSTEMS: <<<"$top" | awk '{ print $1 }')
[[ -n $systems ]] || fail "the top-level usage text lists systems"

synopsis=$(man_section SYNOPSIS)
options=$(usage_entries OPTIONS: <<<"$top")
declare -A documented_pairs=()
for system in $systems; do
  if grep -Eq "^ +tarnex-viravi \[?$system( |\]|$)" <<<"$synopsis"; then
    pass "SYNOPSIS shows system $system"
  else
    fail "SYNOPSIS shows system $system"
  fi
  text=$("$program" "$system" -h) || fail "$system -h exits 0"
  actions=$(usage_entries ACTIONS: <<<"$text" | awk '{ print $1 }')
  [[ -n $actions ]] || fail "the $system usage text lists actions"
  for action in $actions; do
    documented_pairs["$system $action"]=1
    if grep -Eq "^ +tarnex-viravi $system $action( |$)" "$scratch/man.txt"; then
      pass "action $system $action is documented"
    else
      fail "action $system $action is documented (a line 'tarnex-viravi $system $action ...')"
    fi
  done
  options+=$'\n'$(usage_entries OPTIONS: <<<"$text")
done

# Every command line in the page ("tarnex-viravi SYSTEM ACTION ..." at the
# start of a line: synopsis, list entries, examples) names an action the
# program has.
while read -r system action; do
  [[ -n ${documented_pairs["$system $action"]:-} ]] || fail "the page names '$system $action', which no usage text shows"
done < <(grep -Eo '^ *(\$ )?tarnex-viravi (cluster|node|service) [a-z]+' "$scratch/man.txt" | awk '{ print $(NF - 1), $NF }' | sort -u)

# Options: "  -n, --id=<node>   text" gives -n and --id; each must have an
# entry in OPTIONS that starts with the short form and shows the long one.
man_options=$(man_section OPTIONS | grep -E '^     -')
option_count=0
while read -r short long _; do
  short=${short%,}
  long=${long%%=*}
  option_count=$((option_count + 1))
  if grep -E "^     ${short}[ ,]" <<<"$man_options" | grep -Eq -- "$long([=, ]|$)"; then
    pass "option $short, $long is documented"
  else
    fail "option $short, $long is documented in OPTIONS"
  fi
done < <(grep -E '^  -[a-z], --' <<<"$options" | sort -u)
((option_count >= 7)) || fail "found only $option_count options in the usage texts"

# The examples of the top-level usage text, as printed, are in EXAMPLES.
man_examples=$(man_section EXAMPLES | sed 's/^ *//')
while read -r example; do
  if grep -Fxq -- "$example" <<<"$man_examples"; then
    pass "example '$example' is in EXAMPLES"
  else
    fail "example '$example' is in EXAMPLES"
  fi
done < <(awk '/^[A-Z]+:$/ { section = $0; next } section == "EXAMPLES:" && /^  [^ ]/ { sub(/^  /, ""); print }' <<<"$top")

# EXIT STATUS lists exactly the statuses the program defines.
defined=$(grep -Eo 'exit_[a-z_]+ = [0-9]+;' "$exit_header" | grep -Eo '[0-9]+' | sort -n | tr '\n' ' ')
listed=$(man_section "EXIT STATUS" | grep -Eo '^     [0-9]+' | tr -d ' ' | sort -n | tr '\n' ' ')
[[ -n $defined ]] || fail "no exit statuses found in $exit_header"
check "EXIT STATUS lists the program's statuses" "$defined" "$listed"

finish
