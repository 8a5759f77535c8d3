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
    -f | --factor | -j | --jobs)
      return  # a number
      ;;
    --files-from)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
  esac
  if [[ $cur == -?* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '-f --factor -o --output-dir -j --jobs --files-from
      -0 --null -q --quiet -v --verbose -h --help --version' -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -F _bmpresize bmpresize
