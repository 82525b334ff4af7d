#!/usr/bin/env bash
# mandoc's strictest check of the manual page reports nothing at all.
#   man_lint_test.sh MANPAGE
set -uo pipefail
source "$(dirname "$0")/lib.sh"
require_tool mandoc mandoc

report=$(mandoc -T lint -W all "$1" 2>&1)
status=$?
check "mandoc -T lint -W all exits 0" 0 "$status"
check "mandoc -T lint -W all reports nothing" "" "$report"
finish
