# bash completion for vellox-cli: commands, options, option values and
# profile files by extension (.cus, .json, .syx, in any case). Needs nothing
# of the bash-completion package beyond its loading the file.

# Profile files and folders matching the word being completed.
_vellox_cli_profiles() {
  local cur=$1 IFS=$'\n'
  compopt -o filenames 2>/dev/null || true
  COMPREPLY+=($(compgen -d -- "$cur"))
  COMPREPLY+=($(compgen -f -X '!*.[cC][uU][sS]' -- "$cur"))
  COMPREPLY+=($(compgen -f -X '!*.[jJ][sS][oO][nN]' -- "$cur"))
  COMPREPLY+=($(compgen -f -X '!*.[sS][yY][xX]' -- "$cur"))
}

_vellox_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD-1]}
  local commands="ports info read write reset show diff convert monitor"
  local common="--port --timeout --quiet -q --no-usb-check --midi-api --help -h --version"
  local kinds="note poly-pressure cc program pressure bend sysex system realtime"
  COMPREPLY=()

  # The command: the first word that is one, past the common options and
  # their values.
  local i cmd="" c
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --port | --timeout | --midi-api) ((i++)) ;;
      -*) ;;
      *)
        for c in $commands; do
          [[ ${COMP_WORDS[i]} == "$c" ]] && cmd=$c
        done
        [[ -n $cmd ]] && break
        ;;
    esac
  done

  case $prev in
    --midi-api)
      COMPREPLY=($(compgen -W "auto alsa jack" -- "$cur"))
      return
      ;;
    --format | --from | --to)
      COMPREPLY=($(compgen -W "cus json syx" -- "$cur"))
      return
      ;;
    --kind)
      # A list: the kinds after the last comma.
      local done=""
      [[ $cur == *,* ]] && done=${cur%,*},
      COMPREPLY=($(compgen -W "$kinds" -P "$done" -- "${cur##*,}"))
      compopt -o nospace 2>/dev/null || true
      return
      ;;
    --port | --timeout | --count | --channel)
      return
      ;;
    -o | --output)
      [[ $cmd == read ]] && _vellox_cli_profiles "$cur"
      return
      ;;
  esac

  if [[ -z $cmd ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "$common" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    fi
    return
  fi

  local opts="--help" files=0
  case $cmd in
    read) opts="-o --output --format --help" ;;
    write) opts="--no-verify --format --help" files=1 ;;
    reset) opts="-y --yes --no-verify --help" ;;
    show) opts="--format --help" files=1 ;;
    diff) files=1 ;;
    convert) opts="--from --to --help" files=1 ;;
    monitor) opts="--hex --dec --json --kind --channel --count --help" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  elif ((files)); then
    _vellox_cli_profiles "$cur"
    [[ $cmd == diff ]] && COMPREPLY+=($(compgen -W "device" -- "$cur"))
  fi
}

complete -F _vellox_cli vellox-cli
