# Bash completion for ovra-host: commands, options, filter names, and the
# parameter keys of the filter on the line (as ovra-host params reports them).
_ovra_host() {
  local cur prev words cword
  _init_completion 2>/dev/null || {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  }
  local host=${words[0]}
  local commands="list params apply dialog about help"
  if [ "$cword" -eq 1 ]; then
    COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    return
  fi
  local command=${words[1]}
  # The module named on the line, if any.
  local module=() i
  for ((i = 2; i < cword; i++)); do
    [ "${words[i]}" = --module ] && module=(--module "${words[i+1]}")
  done
  case $prev in
    --module | --preset | --save | --registry | --screenshot | --output | -o)
      COMPREPLY=($(compgen -f -- "$cur"))
      return ;;
    --depth) COMPREPLY=($(compgen -W "8 16" -- "$cur")); return ;;
    --transfer) COMPREPLY=($(compgen -W "ports interleaved" -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W "png jpg tif webp exr dpx" -- "$cur")); return ;;
    --jobs | --quality | --tile-rows | --abort-after | --threads | --area) return ;;
    --set)
      # Keys of the filter given as the first argument.
      local filter=${words[2]} keys
      keys=$("$host" params "$filter" --tsv "${module[@]}" 2>/dev/null | cut -f3 | grep -v '^$' | sort -u)
      compopt -o nospace 2>/dev/null
      COMPREPLY=($(compgen -W "$keys" -S = -- "$cur"))
      return ;;
  esac
  if [[ $cur == -* ]]; then
    local options
    case $command in
      list) options="--all --resources --json" ;;
      params) options="--json --tsv --set --preset --save" ;;
      apply) options="--set --preset -o --output --format --quality --depth --jobs --registry --progress --quiet
                      --dialog --tile-rows --transfer --abort-after --area" ;;
      dialog | about) options="--screenshot" ;;
    esac
    COMPREPLY=($(compgen -W "$options --module --threads --help" -- "$cur"))
    return
  fi
  case $command in
    help)
      [ "$cword" -eq 2 ] && COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    params | apply | dialog)
      if [ "$cword" -eq 2 ]; then
        local filters
        filters=$("$host" list "${module[@]}" 2>/dev/null | cut -f1 | sed 's/^PIMAIN_//')
        COMPREPLY=($(compgen -W "$filters" -- "$cur"))
      else
        COMPREPLY=($(compgen -f -- "$cur"))
      fi ;;
  esac
}
complete -F _ovra_host ovra-host
