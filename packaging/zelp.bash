# bash completion for zelp: the commands, each command's options, and file
# names (patches: .exe, .zelp, .ips, .ups and .bps files; dialog programs: .exe files).
_zelp() {
  local cur prev words cword
  _init_completion || return

  local commands="info check apply create convert pack version"
  if [ "$cword" -eq 1 ]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local command=${words[1]}

  # The argument an option takes.
  case $prev in
    --base) return ;;  # a number
    --format) COMPREPLY=($(compgen -W "zelp ips ups bps" -- "$cur")); return ;;
    --description) _filedir; return ;;
    --stub) _filedir exe; return ;;
    -o) _filedir; return ;;
  esac

  if [[ $cur == -* ]]; then
    local options="--help"
    case $command in
      info) options+=" --base" ;;
      check) options+=" --base --header" ;;
      apply) options+=" --base -o --backup --force --header --checksums" ;;
      create) options+=" -o --format --description --no-crc --stub" ;;
      convert) options+=" -o --format --description --stub --base" ;;
      pack) options+=" -o" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi

  # Which positional argument this is: options and their values left out.
  local i n=0
  for ((i = 2; i < cword; i++)); do
    case ${words[i]} in
      --base | --description | --stub | --format | -o) ((i++)) ;;
      -*) ;;
      *) ((n++)) ;;
    esac
  done
  case $command:$n in
    info:0 | check:0 | apply:0 | convert:0) _filedir '@(exe|zelp|ips|ups|bps|EXE|ZELP|IPS|UPS|BPS)' ;;
    pack:0) _filedir '@(exe|EXE)' ;;
    pack:1) _filedir '@(zelp|ZELP)' ;;
    check:1 | apply:1 | create:0 | create:1 | convert:1) _filedir ;;
  esac
}
complete -F _zelp zelp
