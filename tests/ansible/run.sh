#!/usr/bin/env bash
# The tests of the Ansible collection tarnex.cluster, on a copy of it in an
# ansible_collections/tarnex/cluster tree of a temporary directory:
#   run.sh units COLLECTION
#   run.sh sanity COLLECTION      validate-modules and ansible-doc
#   run.sh lint COLLECTION        pycodestyle, pylint, yamllint
#   run.sh build COLLECTION
#   run.sh integration COLLECTION TARGET[,TARGET...] CLIENT SIM EXAMPLE_CLUSTER
#   run.sh examples COLLECTION EXAMPLES_DIR CLIENT SIM EXAMPLE_CLUSTER
# Exit status 77: ansible-core (or a checker the step needs) is missing.
set -uo pipefail
mode=$1 source=$(cd "$2" && pwd) here=$(cd "$(dirname "$0")" && pwd)
shift 2

require() {
  command -v "$1" >/dev/null 2>&1 || { echo "skipped: $1 is not installed (package $2)"; exit 77; }
}
require ansible-playbook ansible-core
# The Python that runs Ansible, which has ansible-core's libraries.
python=$(sed -n '1s/^#! *//p' "$(command -v ansible-playbook)")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnex-ansible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
collection=$scratch/ansible_collections/tarnex/cluster
mkdir -p "$(dirname "$collection")"
cp -r "$source" "$collection"
rm -rf "$collection/tests/output"
export ANSIBLE_COLLECTIONS_PATH=$scratch ANSIBLE_LOCAL_TEMP=$scratch/tmp ANSIBLE_REMOTE_TEMP=$scratch/tmp
export ANSIBLE_HOME=$scratch/home ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0
# What cuts Ansible's overhead: no fact gathering, no interpreter discovery
# (the Python that runs Ansible runs the modules), pipelining, no callbacks
# beyond the default output, two forks for the two clusters of the examples.
export ANSIBLE_PIPELINING=1 ANSIBLE_PYTHON_INTERPRETER=$python ANSIBLE_GATHERING=explicit ANSIBLE_FORKS=2
export ANSIBLE_CALLBACKS_ENABLED='' ANSIBLE_INVENTORY_ENABLED=host_list,yaml ANSIBLE_DEPRECATION_WARNINGS=0
export PYTHONDONTWRITEBYTECODE=1 PYLINTHOME=$scratch/pylint

playbook() { # playbook VARS_FILE PLAYBOOK ARGS...
  ansible-playbook -i localhost, -c local -e "@$1" "${@:2}"
}

write_vars() { # write_vars FILE CLIENT SIM EXAMPLE
  printf 'tarnex_client: %s\ntarnex_sim: %s\ntarnex_example_cluster: %s\n' "$2" "$3" "$4" >"$1"
}

case $mode in
units)
  "$python" -c 'import pytest' 2>/dev/null || { echo "skipped: pytest is not installed (package python3-pytest)"; exit 77; }
  cd "$scratch" && "$python" -m pytest -q -p no:cacheprovider "$collection/tests/unit"
  ;;
sanity)
  "$python" -c 'import voluptuous' 2>/dev/null || { echo "skipped: voluptuous is not installed (package python3-voluptuous)"; exit 77; }
  status=0
  cd "$collection" || exit 1
  validate=$("$python" -c 'import ansible_test, os; print(os.path.join(os.path.dirname(ansible_test.__file__), "_util/controller/sanity/validate-modules/validate.py"))')
  echo "== validate-modules"
  # --arg: the check of each module's argument_spec as well.
  "$python" "$validate" --format json --arg --collection ansible_collections/tarnex/cluster \
    --collection-version "$(sed -n 's/^version: //p' galaxy.yml)" plugins/modules/*.py >"$scratch/validate.json"
  "$python" "$here/validate_report.py" "$scratch/validate.json" tests/sanity/ignore-2.14.txt || status=1
  echo "== ansible-doc"
  for module in plugins/modules/*.py; do
    name=tarnex.cluster.$(basename "$module" .py)
    if ! ansible-doc "$name" >"$scratch/doc.txt" 2>&1 || ! grep -q 'EXAMPLES' "$scratch/doc.txt" ||
      grep -q 'WARNING' "$scratch/doc.txt"; then
      cat "$scratch/doc.txt"
      echo "ansible-doc $name fails"
      status=1
    fi
  done
  exit $status
  ;;
lint)
  require pycodestyle pycodestyle
  require pylint pylint
  require yamllint yamllint
  status=0
  cd "$collection" || exit 1
  echo "== pycodestyle"
  # As the pep8 step of ansible-test sanity has it.
  pycodestyle --max-line-length 160 --ignore E402,W503,W504,E741 plugins tests/unit || status=1
  echo "== pylint"
  find plugins tests/unit -name "*.py" -exec pylint --rcfile "$here/pylintrc" {} + || status=1
  echo "== yamllint"
  yamllint -c "$here/yamllint.yml" . "$here/../../examples/ansible" || status=1
  exit $status
  ;;
build)
  require ansible-galaxy ansible-core
  cd "$scratch" && ansible-galaxy collection build --output-path "$scratch/out" "$collection" || exit 1
  tarball=$scratch/out/tarnex-cluster-$(sed -n 's/^version: //p' "$collection/galaxy.yml").tar.gz
  tar -tzf "$tarball" >"$scratch/files" || exit 1
  grep -qx 'plugins/modules/tarnex_service.py' "$scratch/files" || { echo "$tarball lacks the modules"; exit 1; }
  ! grep -q '^tests/output' "$scratch/files" || { echo "$tarball holds test output"; exit 1; }
  echo "built $(basename "$tarball")"
  ;;
integration)
  # One play per target, all in one run of ansible-playbook: each play
  # starts a simulator of its own (the targets' setup_ruxd_sim).
  write_vars "$scratch/vars.yml" "$2" "$3" "$4"
  for target in ${1//,/ }; do
    printf -- '- name: %s\n  hosts: localhost\n  gather_facts: false\n  roles: [%s]\n' "$target" "$target"
  done >"$scratch/target.yml"
  ANSIBLE_ROLES_PATH=$collection/tests/integration/targets playbook "$scratch/vars.yml" "$scratch/target.yml"
  ;;
examples)
  # site.yml and maintenance.yml in one run of ansible-playbook, against two
  # simulators named by the inventory. site.yml must change exactly what
  # differs from the example cluster (so every other item is idempotent on
  # the client's real records), maintenance.yml something.
  examples=$(cd "$1" && pwd)
  start=$collection/tests/integration/targets/setup_ruxd_sim/files/start_sim.py
  pids=()
  trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$scratch"' EXIT
  for cluster in east west; do
    "$python" "$start" "$2" "$3" "$4" "$scratch/clients/$cluster" >"$scratch/$cluster.json" || exit 1
    pids+=("$("$python" -c 'import json, sys; print(json.load(open(sys.argv[1]))["pid"])' "$scratch/$cluster.json")")
  done
  printf -- '- import_playbook: %s\n' "$examples/site.yml" "$examples/maintenance.yml" >"$scratch/all.yml"
  ansible-playbook -i "$examples/inventory.yml" -e tarnex_clients="$scratch/clients" \
    -e ansible_python_interpreter="$python" "$scratch/all.yml" >"$scratch/play.log" 2>&1 ||
    { cat "$scratch/play.log"; echo "the examples failed"; exit 1; }
  # The changed lines of site.yml (the first PLAY) and of maintenance.yml
  # (the later ones: a PLAY line for each cluster, as it goes one at a time).
  site=$(awk '/^PLAY \[/ { play++ } play == 1 && /^changed: /' "$scratch/play.log" | sort | tr '\n' ';')
  maintenance=$(awk '/^PLAY \[/ { play++ } play > 1 && /^changed: /' "$scratch/play.log" | wc -l)
  echo "site.yml changed: $site maintenance.yml: $maintenance changed"
  if [[ $site != 'changed: [east] => (item=zpool_z05);changed: [west] => (item=nfs_gateway);' || $maintenance == 0 ]]; then
    cat "$scratch/play.log"; echo "site.yml should move zpool_z05 on east and nfs_gateway on west only, maintenance.yml change something"; exit 1
  fi
  ;;
*)
  echo "run.sh: unknown mode $mode" >&2
  exit 2
  ;;
esac
