# Runs an interactive zsh on a pseudo-terminal with the completion system and
# the tarnex-viravi completion loaded, presses TAB after each test line, and
# prints the candidates offered, one "<line>:<candidate>" line each, then
# "<line>:took <ms>". Called by zsh_completion_test.sh. DUMP is compinit's
# dump file: made by the first shell that finds none, read by the others.
#   zsh -f zsh_completion.zsh COMPLETION_DIR PATH_PREFIX DUMP LINE...
zmodload zsh/zpty zsh/datetime || exit 2
completion_dir=$1 path_prefix=$2 dump=$3
shift 3

zpty -b tv env PATH=$path_prefix:$PATH TERM=dumb zsh -f -i || exit 2

# Reads the terminal until PATTERN shows up; gives up after a minute (a
# line takes a fraction of a second; a silent daemon, about one).
read_until() {
  local chunk deadline=$(( EPOCHREALTIME + 60 ))
  output=
  while [[ $output != *$1* ]]; do
    (( EPOCHREALTIME < deadline )) || { print -u2 "no answer from the test shell; so far: $output"; return 1 }
    if zpty -r -t tv chunk; then output+=$chunk; else sleep 0.02; fi
  done
}

# Every candidate that reaches the completion list is also written to the
# terminal between "<@" and "@>".
zpty -w tv 'PS1= PS2= RPS1=; fpath=('$completion_dir' $fpath); autoload -Uz compinit; compinit -u -d '${(q)dump}
zpty -w tv 'compadd() {
  if [[ " $* " == *" -"[OAD]* ]]; then builtin compadd "$@"; return; fi
  local -a found; local c
  builtin compadd -O found "$@"
  for c in $found; do print -rn -- "<@$c@>" >/dev/tty; done
  builtin compadd "$@"
}'
zpty -w tv "echo @@SET''UP@@"
read_until @@SETUP@@ || exit 2

for line in "$@"; do
  # TAB completes; Ctrl-A Ctrl-K then empties the line (Ctrl-U would be eaten
  # by the terminal driver while zle is not reading), and the echo marks the
  # end of this line's output.
  start=$EPOCHREALTIME
  zpty -w -n tv "$line"$'\t\C-a\C-k'"echo @@DO''NE@@"$'\n'
  read_until @@DONE@@ || exit 2
  typeset -i took=$(( (EPOCHREALTIME - start) * 1000 ))
  for c in ${(u)${(M)${(s:@>:)output}:#*<@*}#*<@}; do
    print -r -- "${line}:${c}"
  done
  print -r -- "${line}:took ${took}"
done
zpty -d tv
