# shellcheck shell=bash
# Helpers shared by the documentation tests; sourced, not run.
# Every test prints "ok"/"FAIL" lines and exits non-zero on any failure;
# 77 means "skipped" (a tool is missing on a developer's machine).

failures=0

# An absolute form of a path given on the command line; the tests change
# directory.
absolute() {
  if [[ -z $1 || $1 == /* ]]; then printf '%s\n' "$1"; else printf '%s\n' "$PWD/$1"; fi
}

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

pass() {
  echo "ok: $*"
}

# check NAME EXPECTED ACTUAL
check() {
  if [[ $2 == "$3" ]]; then
    pass "$1"
  else
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2 || true
  fi
}

finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
  exit 0
}

# A tool the test needs. Missing on a developer's machine: skip. Missing in
# CI: fail, so that a CI script that forgot to install it cannot pass green.
require_tool() {
  command -v "$1" >/dev/null 2>&1 && return 0
  if [[ -n ${CI:-} ]]; then
    echo "FAIL: $1 is not installed (Debian package $2)" >&2
    exit 1
  fi
  echo "skipped: $1 is not installed (Debian package $2)"
  exit 77
}

# A private scratch directory, removed at exit.
make_scratch() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnex-docs.XXXXXX")
  trap 'cleanup_scratch' EXIT
}

cleanup_scratch() {
  local pid
  for pid in ${background_pids:-}; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$scratch"
}

# The manual page rendered as plain text (no overstrike, no hyphenation
# surprises: mandoc breaks lines only at blanks).
render_man() {
  mandoc -T ascii -O width=200 "$1" | sed $'s/.\b//g'
}

# Copies the program into DIR beside a settings file that names CONFIG, so
# that it finds its configuration like an installed one would.
install_client() {
  local program=$1 dir=$2 config=$3
  mkdir -p "$dir"
  cp "$program" "$dir/tarnex-viravi"
  printf '[RUXD]\nConfig = %s\n' "$config" >"$dir/tarnex-viravi.config"
}

# Writes a daemon configuration whose management endpoint is ENDPOINT,
# built from the example cluster.
write_cluster_config() {
  local example=$1 endpoint=$2 out=$3
  sed "s#\"mgmt-url\": \"[^\"]*\"#\"mgmt-url\": \"$endpoint\"#" "$example" >"$out"
  grep -q "\"mgmt-url\": \"$endpoint\"" "$out"
}

# Starts the simulated daemon on ENDPOINT with CONFIG (its default when empty)
# and any further arguments, and waits until it listens. Its id goes into
# background_pids, so that it is stopped at exit.
start_sim() {
  local sim=$1 config=$2 endpoint=$3 log=$4
  shift 4
  local args=(--bind "$endpoint" "$@")
  [[ -n $config ]] && args+=(--config "$config")
  "$sim" "${args[@]}" >"$log" 2>&1 &
  local pid=$!
  background_pids="${background_pids:-} $pid"
  # It starts in milliseconds; half a minute is for the busiest machine.
  local i
  for ((i = 0; i < 600; i++)); do
    grep -q 'listening' "$log" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "the simulated daemon did not start:" >&2
  cat "$log" >&2
  return 1
}

# A stand-in for the program that answers "node list" and "service list" as
# the real one prints them (including a node whose id could not be read).
# STUB_MODE=silent makes it wait like a program whose daemon never answers;
# STUB_MODE=failing makes it fail like an unconfigured one; STUB_MODE=hostile
# answers with a name that is a command substitution.
write_stub() {
  mkdir -p "$(dirname "$1")"
  cat >"$1" <<'EOF'
#!/bin/sh
# Silent: the stand-in's daemon never answers; like the program it gives up
# after --timeout=1, and otherwise waits far longer than any completion may.
if [ "${STUB_MODE:-}" = silent ]; then
  case " $* " in *" --timeout=1 "*) sleep 1; exit 11 ;; esac
  exec sleep 30
fi
[ "${STUB_MODE:-}" = failing ] && { echo "Error: mgmt-url is not configured" >&2; exit 1; }
if [ "${STUB_MODE:-}" = hostile ]; then
  printf 'NAME                 ID     STATE    STATUS  POOLS\n$(touch${IFS}pwned)   1    ONLINE   enabled  [ ]\n'
  exit 0
fi
case "$1 $2" in
  "node list") printf 'NAME    ID     STATE    STATUS  \nnas-a    1    ONLINE   enabled\nnas-b    2    ONLINE  DISABLED\nodd      -    ONLINE   enabled\n' ;;
  "service list") printf 'NAME        NODE     STATE    STATUS  POOLS\narchive        -   STOPPED  DISABLED  [ ]\nzpool_z01      1    ONLINE   enabled  [ ]\nzpool_z02      2    ONLINE   enabled  [ ]\n' ;;
  *) exit 12 ;;
esac
EOF
  chmod +x "$1"
}
