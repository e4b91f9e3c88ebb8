# bash completion for kestel-cli
_kestel_cli() {
  local cur prev words cword
  _init_completion || return

  local login_options="--legacy --verbose --password-file --json --hoplink"
  local router_commands="menus ls get set add rm mv run watch"

  case $prev in
  --password-file)
    _filedir
    return
    ;;
  --seconds | --count | --timeout | --size | --telnet | --mac-telnet | --target-user | \
    --guest | --hoplink)
    return
    ;;
  esac

  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "terminal neighbors book settings cache --offline --help --version \
      --menus --new-window $login_options" -- "$cur"))
    return
  fi

  case ${words[1]} in
  terminal)
    COMPREPLY=($(compgen -W "--legacy --verbose --password-file --telnet --mac-telnet \
      --target-user --guest --size --timeout --screen --help" -- "$cur"))
    return
    ;;
  neighbors)
    COMPREPLY=($(compgen -W "--seconds --json --help" -- "$cur"))
    return
    ;;
  cache)
    COMPREPLY=($(compgen -W "ls clear" -- "$cur"))
    return
    ;;
  book | settings)
    COMPREPLY=($(compgen -W "--help" -- "$cur"))
    return
    ;;
  esac

  # <address> <login> [command ...]: count the positional words so far.
  local i positional=0
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
    --password-file | --hoplink) ((i++)) ;;
    -*) ;;
    *) ((positional++)) ;;
    esac
  done
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$login_options --menus --new-window --help" -- "$cur"))
  elif [[ $positional -eq 2 ]]; then
    COMPREPLY=($(compgen -W "$router_commands" -- "$cur"))
  fi
} && complete -F _kestel_cli kestel-cli
