#!/usr/bin/env bash
# The tests of the Ansible collection tarnex.cluster, on a copy of it in an
# ansible_collections/tarnex/cluster tree of a temporary directory:
#   run.sh units COLLECTION
#   run.sh sanity COLLECTION
#   run.sh build COLLECTION
#   run.sh integration COLLECTION TARGET CLIENT SIM EXAMPLE_CLUSTER
#   run.sh examples COLLECTION EXAMPLES_DIR CLIENT SIM EXAMPLE_CLUSTER
# Exit status 77: ansible-core (or a checker the step needs) is missing.
set -uo pipefail
mode=$1 source=$(cd "$2" && pwd)
shift 2

require() {
  command -v "$1" >/dev/null 2>&1 || { echo "skipped: $1 is not installed (package $2)"; exit 77; }
}
require ansible-playbook ansible-core

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnex-ansible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
collection=$scratch/ansible_collections/tarnex/cluster
mkdir -p "$(dirname "$collection")"
cp -r "$source" "$collection"
rm -rf "$collection/tests/output"
export ANSIBLE_COLLECTIONS_PATH=$scratch ANSIBLE_LOCAL_TEMP=$scratch/tmp ANSIBLE_REMOTE_TEMP=$scratch/tmp
export ANSIBLE_HOME=$scratch/home ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_PIPELINING=1 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ANSIBLE_DEPRECATION_WARNINGS=0 PYTHONDONTWRITEBYTECODE=1

playbook() { # playbook VARS_FILE PLAYBOOK ARGS...
  ansible-playbook -i localhost, -c local -e "@$1" "${@:2}"
}

write_vars() { # write_vars FILE CLIENT SIM EXAMPLE
  printf 'tarnex_client: %s\ntarnex_sim: %s\ntarnex_example_cluster: %s\n' "$2" "$3" "$4" >"$1"
}

case $mode in
units)
  require pytest-3 python3-pytest
  cd "$scratch" && python3 -m pytest -q -p no:cacheprovider "$collection/tests/unit"
  ;;
sanity)
  require pycodestyle pycodestyle
  require pylint pylint
  require yamllint yamllint
  status=0
  cd "$collection" || exit 1
  validate=$(python3 -c 'import ansible_test, os; print(os.path.join(os.path.dirname(ansible_test.__file__), "_util/controller/sanity/validate-modules/validate.py"))')
  echo "== validate-modules"
  python3 "$validate" --format json --arg-spec --collection ansible_collections/tarnex/cluster \
    --collection-version "$(sed -n 's/^version: //p' galaxy.yml)" plugins/modules/*.py >"$scratch/validate.json" || status=1
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); [print(p, e) for p, r in d.items() for e in r.get("errors", [])]; sys.exit(1 if any(r.get("errors") for r in d.values()) else 0)' "$scratch/validate.json" || status=1
  echo "== ansible-doc"
  for module in plugins/modules/*.py; do
    name=tarnex.cluster.$(basename "$module" .py)
    ansible-doc "$name" >"$scratch/doc.txt" 2>&1 && grep -q 'EXAMPLES' "$scratch/doc.txt" &&
      ! grep -q 'WARNING' "$scratch/doc.txt" || { cat "$scratch/doc.txt"; echo "ansible-doc $name fails"; status=1; }
  done
  echo "== pycodestyle"
  pycodestyle --max-line-length 120 plugins tests/unit || status=1
  echo "== pylint"
  pylint --rcfile "$source/../../pylintrc" plugins tests/unit || status=1
  echo "== yamllint"
  yamllint -c "$source/../../yamllint.yml" . || status=1
  exit $status
  ;;
build)
  require ansible-galaxy ansible-core
  cd "$scratch" && ansible-galaxy collection build --output-path "$scratch/out" "$collection" || exit 1
  tarball=$scratch/out/tarnex-cluster-$(sed -n 's/^version: //p' "$collection/galaxy.yml").tar.gz
  tar -tzf "$tarball" | grep -qx 'plugins/modules/tarnex_service.py' || { echo "$tarball lacks the modules"; exit 1; }
  ! tar -tzf "$tarball" | grep -q '^tests/output' || { echo "$tarball holds test output"; exit 1; }
  echo "built $(basename "$tarball")"
  ;;
integration)
  target=$1
  write_vars "$scratch/vars.yml" "$2" "$3" "$4"
  printf -- '- hosts: localhost\n  gather_facts: false\n  roles: [%s]\n' "$target" >"$scratch/target.yml"
  ANSIBLE_ROLES_PATH=$collection/tests/integration/targets playbook "$scratch/vars.yml" "$scratch/target.yml"
  ;;
examples)
  examples=$(cd "$1" && pwd)
  write_vars "$scratch/vars.yml" "$2" "$3" "$4"
  cp -r "$examples" "$scratch/examples"
  playbook "$scratch/vars.yml" "$scratch/examples/../examples/test.yml"
  ;;
*)
  echo "run.sh: unknown mode $mode" >&2
  exit 2
  ;;
esac
