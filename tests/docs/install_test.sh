#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: the tree holds exactly the
# program, its manual page (compressed), the two completion files, the
# sample settings file and the example cluster with its settings (and
# ruxd-sim with its page only when asked for, finding the installed example);
# the installed program answers -v and -h without any settings file; the
# sample is a settings file the program reads; the completion files register
# themselves.
#   install_test.sh CMAKE BUILD_DIR PROGRAM SOURCE_DIR INSTALL_SIM(ON|OFF)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cmake=$1 build=$(absolute "$2") program=$(absolute "$3") source=$(absolute "$4") install_sim=$5

make_scratch
prefix=$scratch/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log" >&2
  fail "cmake --install into $prefix"
  finish
fi

expected="bin/tarnex-viravi
etc/tarnex-viravi.config.sample
share/bash-completion/completions/tarnex-viravi
share/man/man8/tarnex-viravi.8.gz
share/tarnex-viravi/examples/cluster.json
share/tarnex-viravi/examples/tarnex-viravi.config
share/zsh/site-functions/_tarnex-viravi"
case $install_sim in
  ON | on | TRUE | true | 1 | YES | yes) expected+=$'\nbin/ruxd-sim\nshare/man/man8/ruxd-sim.8.gz' ;;
esac
expected=$(sort <<<"$expected")
check "the installed tree" "$expected" "$(cd "$prefix" && find . -type f -o -type l | sed 's#^\./##' | sort)"

if cmp -s <(gzip -dc "$prefix/share/man/man8/tarnex-viravi.8.gz") "$source/man/tarnex-viravi.8"; then
  pass "share/man/man8/tarnex-viravi.8.gz is man/tarnex-viravi.8"
else
  fail "share/man/man8/tarnex-viravi.8.gz is man/tarnex-viravi.8"
fi
for pair in "examples/cluster.json share/tarnex-viravi/examples/cluster.json" \
  "completion/tarnex-viravi.bash share/bash-completion/completions/tarnex-viravi" \
  "completion/_tarnex-viravi share/zsh/site-functions/_tarnex-viravi" \
  "examples/tarnex-viravi.config.sample etc/tarnex-viravi.config.sample"; do
  read -r from to <<<"$pair"
  if cmp -s "$source/$from" "$prefix/$to"; then pass "$to is $from"; else fail "$to is $from"; fi
done

if [[ -x $prefix/bin/ruxd-sim ]]; then
  "$prefix/bin/ruxd-sim" --help | grep -qF "(default $prefix/share/tarnex-viravi/examples/cluster.json)" &&
    pass "the installed ruxd-sim takes the installed example" || fail "the installed ruxd-sim takes the installed example"
fi

installed=$prefix/bin/tarnex-viravi
[[ -x $installed ]] && pass "the program is executable" || fail "the program is executable"

# -v and -h read no file, so the installed program answers them as it is.
version=$("$installed" -v 2>"$scratch/err")
check "installed -v exits 0" 0 $?
check "installed -v prints the built program's version line" "$("$program" -v)" "$version"
[[ $version =~ ^tarnex-viravi\ version:\ [0-9a-f]+$ ]] && pass "the version line names the program" ||
  fail "the version line names the program: $version"
help=$("$installed" -h 2>>"$scratch/err")
check "installed -h exits 0" 0 $?
check "installed -h prints the usage text" "$("$program" -h)" "$help"
check "installed -h: first line" "tarnex-viravi [command] {OPTIONS}" "$(head -1 <<<"$help")"
[[ $(tail -1 <<<"$help") == "Tarnex Cluster CLI, build "* ]] && pass "installed -h ends with the banner" ||
  fail "installed -h ends with the banner"
"$installed" node -h | grep -q -- '--id=<node>' && pass "installed node -h" || fail "installed node -h"
check "-v and -h write nothing on stderr" "" "$(cat "$scratch/err")"

# The sample, installed as the settings file beside the program with its
# Config value changed, is read: the program asks for the configured path.
missing=$scratch/no-such/config.json
sed "s#^Config = .*#Config = $missing#" "$prefix/etc/tarnex-viravi.config.sample" >"$prefix/bin/tarnex-viravi.config"
errors=$("$installed" node list 2>&1 >/dev/null)
check "a settings file made from the sample is read (exit status 1)" 1 $?
check "a settings file made from the sample is read" \
  "ruxd:config: cannot open config file: $missing
Error: mgmt-url is not configured" "$errors"

# As shipped, the sample names the default daemon configuration.
check "the sample names the default configuration path" "Config = /usr/local/etc/ruxd/config.json" \
  "$(grep '^Config' "$prefix/etc/tarnex-viravi.config.sample")"
check "the sample has one section, [RUXD]" "[RUXD]" "$(grep '^\[' "$prefix/etc/tarnex-viravi.config.sample")"

# The completion files register the completion of tarnex-viravi.
check "the bash completion registers itself" "complete -F _tarnex_viravi tarnex-viravi" \
  "$(bash -c 'source "$1" && complete -p tarnex-viravi' _ "$prefix/share/bash-completion/completions/tarnex-viravi")"
if command -v zsh >/dev/null 2>&1; then
  check "the zsh completion is found through fpath" "_tarnex-viravi" \
    "$(HOME=$scratch zsh -f -c 'fpath=("$1" $fpath); autoload -Uz compinit && compinit -u -D && print -r -- $_comps[tarnex-viravi]' _ "$prefix/share/zsh/site-functions")"
fi

finish
