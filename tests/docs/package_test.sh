#!/usr/bin/env bash
# The Debian packages made by cpack: tarnex-viravi and ruxd-sim, under /usr,
# with their run-time dependencies read off the libraries the programs link,
# each with its copyright file and changelog, compressed manual pages and
# declared configuration files (.ci/run checks every package with lintian).
# Unpacked into a temporary root (never installed), both
# programs run from there, and ruxd-sim without --config finds the unpacked
# example cluster and answers the unpacked client.
#   package_test.sh CPACK BUILD_DIR SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cpack=$1 build=$(absolute "$2") source=$(absolute "$3")
require_tool dpkg-deb dpkg
require_tool dpkg-shlibdeps dpkg-dev

make_scratch
# cpack runs side by side, one for each package (most of their time goes
# into dpkg-shlibdeps, package after package within one run); a package
# another depends on is made in that one's run, which needs it. Every
# package the build makes is made, not only those checked below. The
# programs are built before the tests run, so cpack's "preinstall" step,
# make's walk over the whole build tree, is left out by naming a generator
# that has none.
config=$build/CPackConfig.cmake
components=$(sed -n 's/^set(CPACK_COMPONENTS_ALL "\(.*\)")$/\1/p' "$config" | tr ';' ' ')
[[ -n $components ]] || fail "the components to package are named in $config"
depended=" $(sed -n 's/^set(CPACK_COMPONENT_[A-Z0-9_]*_DEPENDS "\(.*\)")$/\1/p' "$config" | tr ';\n' '  ') "
declare -A cpack_pids
for component in $components; do
  [[ $depended == *" $component "* ]] && continue
  needs=$(sed -n "s/^set(CPACK_COMPONENT_${component^^}_DEPENDS \"\(.*\)\")\$/\1/p" "$config")
  (cd "$build" && exec "$cpack" -G DEB -B "$scratch/out/$component" -D CPACK_COMPONENTS_ALL="$component${needs:+;$needs}" \
    -D CPACK_CMAKE_GENERATOR=Ninja) >"$scratch/cpack-$component.log" 2>&1 &
  cpack_pids[$component]=$!
done
for component in "${!cpack_pids[@]}"; do
  if ! wait "${cpack_pids[$component]}"; then
    cat "$scratch/cpack-$component.log" >&2
    fail "cpack makes the package of $component"
  fi
done
((failures == 0)) || finish
client_deb=$(echo "$scratch"/out/*/tarnex-viravi_*.deb)
sim_deb=$(echo "$scratch"/out/*/ruxd-sim_*.deb)
if [[ ! -f $client_deb || ! -f $sim_deb ]]; then
  fail "cpack makes tarnex-viravi and ruxd-sim: $(ls "$scratch"/out/*)"
  finish
fi

files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort; }
check "the files of tarnex-viravi" "etc/tarnex-viravi.config.sample
usr/bin/tarnex-viravi
usr/share/bash-completion/completions/tarnex-viravi
usr/share/doc/tarnex-viravi/changelog.gz
usr/share/doc/tarnex-viravi/copyright
usr/share/man/man8/tarnex-viravi.8.gz
usr/share/tarnex-viravi/examples/cluster.json
usr/share/tarnex-viravi/examples/tarnex-viravi.config
usr/share/zsh/site-functions/_tarnex-viravi" "$(files "$client_deb")"
check "the files of ruxd-sim" "usr/bin/ruxd-sim
usr/share/doc/ruxd-sim/changelog.gz
usr/share/doc/ruxd-sim/copyright
usr/share/man/man8/ruxd-sim.8.gz" "$(files "$sim_deb")"
check "the configuration files of tarnex-viravi" "/etc/tarnex-viravi.config.sample" \
  "$(dpkg-deb --ctrl-tarfile "$client_deb" | tar -xO ./conffiles)"

# Dependencies as dpkg-shlibdeps read them off the programs, and ruxd-sim's
# on the tarnex-viravi of its own version for the example cluster.
version=$(dpkg-deb -f "$client_deb" Version)
depends() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ (>=.*//' | grep -E "$2" | sort | tr '\n' ' '; }
check "tarnex-viravi depends on" "libc6 libstdc++6 libzmq5 " "$(depends "$client_deb" '^lib(c6|inireader|stdc|zmq)')"
check "ruxd-sim depends on" "libzmq5 tarnex-viravi (= $version) " "$(depends "$sim_deb" '^(libzmq|tarnex)')"

root=$scratch/root
dpkg-deb -x "$client_deb" "$root" && dpkg-deb -x "$sim_deb" "$root" || fail "dpkg-deb -x"

# Compressed as Debian wants and reproducibly: the bytes of gzip -9n.
for pair in "man/tarnex-viravi.8 usr/share/man/man8/tarnex-viravi.8.gz" \
  "man/ruxd-sim.8 usr/share/man/man8/ruxd-sim.8.gz" \
  "packaging/changelog usr/share/doc/tarnex-viravi/changelog.gz" \
  "packaging/changelog usr/share/doc/ruxd-sim/changelog.gz"; do
  read -r from to <<<"$pair"
  if cmp -s <(gzip -9n -c "$source/$from") "$root/$to"; then pass "$to is $from"; else fail "$to is $from"; fi
done
check "the changelog's latest entry is the packages' version" "tarnex-viravi ($version) " \
  "$(gzip -dc "$root/usr/share/doc/tarnex-viravi/changelog.gz" | head -1 | grep -o '^[^ ]* ([^)]*) ')"

client=$root/usr/bin/tarnex-viravi sim=$root/usr/bin/ruxd-sim example=$root/usr/share/tarnex-viravi/examples/cluster.json
[[ $("$client" -v) =~ ^tarnex-viravi\ version:\ [0-9a-f]+$ ]] && pass "the unpacked client answers -v" ||
  fail "the unpacked client answers -v"
check "the unpacked client answers -h" "tarnex-viravi [command] {OPTIONS}" "$("$client" -h | head -1)"
"$sim" --help | grep -qF "(default $example)" && pass "the unpacked ruxd-sim takes the unpacked example" ||
  fail "the unpacked ruxd-sim takes the unpacked example: $("$sim" --help)"

# The client reads its endpoint from a copy of the example; ruxd-sim loads
# the example itself and listens there.
endpoint="ipc://$scratch/sim.sock"
write_cluster_config "$example" "$endpoint" "$scratch/cluster.json" || fail "write the client's configuration"
printf '[RUXD]\nConfig = %s\n' "$scratch/cluster.json" >"$root/usr/bin/tarnex-viravi.config"
if start_sim "$sim" "" "$endpoint" "$scratch/sim.log"; then
  check "the unpacked ruxd-sim loads the example" "ruxd-sim: listening on $endpoint (3 nodes, 5 services)" \
    "$(head -1 "$scratch/sim.log")"
  check "the unpacked client asks the unpacked ruxd-sim" "NAME    ID     STATE    STATUS
nas-a    1    ONLINE   enabled
nas-b    2    ONLINE   enabled
nas-c    3    ONLINE   enabled" "$(timeout 30 "$client" node list | sed 's/[[:blank:]]*$//')"
else
  fail "the unpacked ruxd-sim starts"
fi

finish
