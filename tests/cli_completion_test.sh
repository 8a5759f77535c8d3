#!/usr/bin/env bash
# The bash completion of bmpresize: what each partly typed word completes to.
#   cli_completion_test.sh COMPLETION_SCRIPT
set -u
source "$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir photos big && touch a.bmp b.bmp
failed=0
expect() {  # expect "words typed" "completions wanted"
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _bmpresize
  local have
  have=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  if [[ $have != "$2 " ]]; then
    echo "FAILED: '$1' completes to '$have', want '$2 '"
    failed=1
  fi
}
expect "bmpresize --f" "--factor --files-from"
expect "bmpresize --v" "--verbose --version"
expect "bmpresize -" "--factor --files-from --help --jobs --null --output-dir --quiet --uncompressed --verbose --version -0 -f -h -j -o -q -v"
expect "bmpresize -o " "big photos"
expect "bmpresize -f 3 -o p" "photos"
expect "bmpresize -j " ""
expect "bmpresize -f " "1x2 2 2x1 3 4 8"
expect "bmpresize --factor 3x" "3x1 3x2 3x3 3x4"
expect "bmpresize -f 3" ""
expect "bmpresize --fi" "--files-from"
expect "bmpresize --n" "--null"
expect "bmpresize -f 2 -o big --files-from " "a.bmp b.bmp big photos"
expect "bmpresize a" "a.bmp"
expect "bmpresize -q " "a.bmp b.bmp big photos"
[[ $(complete -p bmpresize) == *"-F _bmpresize"* ]] || { echo "FAILED: not registered"; failed=1; }
[ "$failed" -eq 0 ] && echo "completion: all passed"
exit "$failed"
