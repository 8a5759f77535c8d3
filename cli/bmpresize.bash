# bash completion for bmpresize: options, their values, and files.
_bmpresize() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  case $prev in
    -o | --output-dir)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    -f | --factor)
      # A whole number, or ACROSSxDOWN for pixels that are not square: a
      # number typed so far is offered with the common second factors.
      if [[ $cur =~ ^[0-9]+x$ ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${cur}1 ${cur}2 ${cur}3 ${cur}4" -- "$cur")
      elif [[ -z $cur ]]; then
        mapfile -t COMPREPLY < <(compgen -W '2 3 4 8 2x1 1x2' -- "$cur")
      fi
      return
      ;;
    -j | --jobs)
      return  # a number
      ;;
    --files-from)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '-f --factor -o --output-dir -j --jobs --files-from
      -0 --null --uncompressed -q --quiet -v --verbose -h --help --version' -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -F _bmpresize bmpresize
