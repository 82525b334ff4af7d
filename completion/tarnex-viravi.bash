# bash completion for tarnex-viravi                        -*- shell-script -*-
#
# Completes the system words, the actions of each system, the options the
# system's usage text shows, and option values: the output formats, and node
# and service names, which are asked of the daemon through the program itself
# ("node list", "service list"). The daemon gets one second (--timeout=1): a
# silent daemon must never hold up the shell, so then nothing is offered.

_tarnex_viravi_actions() {
  case $1 in
    cluster) echo "status exit" ;;
    node) echo "list status info enable disable break exit" ;;
    service) echo "list status info help start stop move enable disable break" ;;
  esac
}

# Options offered for a system and action; a value-taking long option ends
# in "=" so that its value can follow at once.
_tarnex_viravi_options() {
  case $1 in
    cluster) echo "-h --help -o --output= --timeout=" ;;
    node)
      case $2 in
        list) echo "-h --help --timeout=" ;;
        exit) echo "-h --help -n --id= -f --force --timeout=" ;;
        *) echo "-h --help -n --id= --timeout=" ;;
      esac
      ;;
    service)
      case $2 in
        list | help) echo "-h --help --timeout=" ;;
        start | move) echo "-h --help -s --name= -n --node= --timeout=" ;;
        *) echo "-h --help -s --name= --timeout=" ;;
      esac
      ;;
    *) echo "-h --help -v --version --timeout=" ;;
  esac
}

# The table the program prints for "$2 list", run as $1; nothing when the
# program fails or its daemon does not answer within a second.
_tarnex_viravi_list() {
  command -v -- "$1" >/dev/null 2>&1 || return 0
  "$1" "$2" list --timeout=1 2>/dev/null </dev/null
}

# Node ids and, unless $2 is "ids", node names. Rows of the node table start
# with the name and the id; a row whose id is not a number gives no id.
_tarnex_viravi_nodes() {
  _tarnex_viravi_list "$1" node | awk -v ids_only="$2" '
    NR > 1 && NF >= 3 {
      if ($2 ~ /^[0-9]+$/) print $2
      if (ids_only != "ids") print $1
    }'
}

_tarnex_viravi_services() {
  _tarnex_viravi_list "$1" service | awk 'NR > 1 && NF >= 4 { print $1 }'
}

_tarnex_viravi() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prog=${COMP_WORDS[0]/#\~/$HOME}
  local opt="" value_prefix="" system="" action="" word i
  local operands=0 after_dashes="" seen=" "
  local IFS=$' \t\n'
  COMPREPLY=()

  # Which option's value is asked for. With "=" among the word breaks (the
  # default) "--id=x" arrives as the three words "--id", "=", "x".
  if [[ $cur == "=" && $COMP_CWORD -ge 2 ]]; then
    opt=${COMP_WORDS[COMP_CWORD - 1]}
    cur=""
  elif [[ $COMP_CWORD -ge 3 && ${COMP_WORDS[COMP_CWORD - 1]} == "=" ]]; then
    opt=${COMP_WORDS[COMP_CWORD - 2]}
  elif [[ $cur == --*=* ]]; then
    opt=${cur%%=*}
    value_prefix="$opt="
    cur=${cur#*=}
  elif [[ $COMP_CWORD -ge 2 ]]; then
    case ${COMP_WORDS[COMP_CWORD - 1]} in
      -n | -s | -o | --id | --node | --name | --output | --timeout) opt=${COMP_WORDS[COMP_CWORD - 1]} ;;
    esac
  fi

  # The operands and the options given so far, skipping option values.
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -z $after_dashes ]]; then
      case $word in
        --) after_dashes=1 ;;
        -n | -s | -o | --id | --node | --name | --output | --timeout)
          seen+="${word#--} "
          if [[ ${COMP_WORDS[i + 1]} == "=" ]]; then ((i += 2)); else ((i += 1)); fi
          ;;
        -?*) seen+="${word#--} " ;;
      esac
      [[ $word == -?* || $word == -- ]] && continue
    fi
    ((operands++))
    if ((operands == 1)); then system=$word; elif ((operands == 2)); then action=$word; fi
  done

  local candidates=""
  if [[ -n $opt ]]; then
    case $opt in
      -o | --output) candidates=$'table\njson' ;;
      -n | --id | --node)
        if [[ $system == service && $action == start ]]; then
          candidates=$(_tarnex_viravi_nodes "$prog" ids)
        else
          candidates=$(_tarnex_viravi_nodes "$prog" all)
        fi
        ;;
      -s | --name) candidates=$(_tarnex_viravi_services "$prog") ;;
      *) return 0 ;;
    esac
    # Names come from the daemon: match them here rather than with
    # "compgen -W", which would expand "$(...)" in them, and quote them for
    # the command line.
    local candidate
    while IFS= read -r candidate; do
      [[ -n $candidate && $candidate == "$cur"* ]] || continue
      [[ $candidate == *[!A-Za-z0-9._@%+:,/-]* ]] && printf -v candidate '%q' "$candidate"
      COMPREPLY+=("$value_prefix$candidate")
    done <<<"$candidates"
    return 0
  fi

  if [[ $cur == -* || operands -ge 2 || -n $after_dashes ]]; then
    [[ -n $after_dashes ]] && return 0
    # An option already given is not offered again: the first -n or -s
    # counts, and -h, -f and -o say nothing new a second time.
    local o name
    for o in $(_tarnex_viravi_options "$system" "$action"); do
      name=${o#--}
      name=${name%=}
      case $name in
        -n | id | node) [[ $seen == *" -n "* || $seen == *" id"* || $seen == *" node"* ]] && continue ;;
        -s | name) [[ $seen == *" -s "* || $seen == *" name"* ]] && continue ;;
        -o | output) [[ $seen == *" -o "* || $seen == *" output"* ]] && continue ;;
        -f | force) [[ $seen == *" -f "* || $seen == *" force "* ]] && continue ;;
        -h | help) [[ $seen == *" -h "* || $seen == *" help "* ]] && continue ;;
        timeout) [[ $seen == *" timeout"* ]] && continue ;;
      esac
      candidates+="$o "
    done
  elif ((operands == 0)); then
    candidates="cluster node service"
  else
    candidates=$(_tarnex_viravi_actions "$system")
  fi
  mapfile -t COMPREPLY < <(compgen -W "$candidates" -- "$cur")
  # "--id=" waits for its value on the same word.
  if [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]]; then
    compopt -o nospace 2>/dev/null
  fi
  return 0
}

complete -F _tarnex_viravi tarnex-viravi
