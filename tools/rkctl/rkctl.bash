# bash completion for rkctl: commands, options, and the names of the RTDBs,
# instances, types and tasks running now, each asked of rkctl itself.
_rkctl() {
  local IFS=$'\n'
  COMPREPLY=($(command "${COMP_WORDS[0]}" __complete "$COMP_CWORD" "${COMP_WORDS[@]}" 2>/dev/null))
}
complete -o default -F _rkctl rkctl
