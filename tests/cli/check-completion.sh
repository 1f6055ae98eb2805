#!/usr/bin/env bash
# The bash completion of vellox-cli: commands, options, option values and
# profile files by extension, in a folder of a few files.
#   check-completion.sh <vellox-cli.bash> [<_vellox-cli for zsh>]
set -euo pipefail
source "$1"
zsh_file=${2:+$(cd "$(dirname "$2")" && pwd)/$(basename "$2")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch a.cus B.JSON c.syx notes.txt
mkdir folder

fail=0
expect() {
  local want=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _vellox_cli || true
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ')
  if [ "$got" != "$want " ]; then
    echo "completing \"$*\": got \"$got\", want \"$want \"" >&2
    fail=1
  fi
}

expect "convert" vellox-cli con
expect "info" vellox-cli --midi-api jack --quiet inf
expect "jack" vellox-cli --midi-api j
expect "--midi-api" vellox-cli --midi
expect "B.JSON a.cus c.syx folder" vellox-cli show ""
expect "B.JSON a.cus c.syx folder" vellox-cli --port vellox convert a.cus ""
expect "B.JSON a.cus c.syx device folder" vellox-cli diff ""
expect "B.JSON a.cus c.syx folder" vellox-cli read -o ""
expect "cus json syx" vellox-cli show --format ""
expect "--from --help --to" vellox-cli convert --
expect "--help --hex" vellox-cli monitor --dec --h
expect "note,cc" vellox-cli monitor --kind note,c
expect "-y" vellox-cli reset -y
expect "" vellox-cli monitor ""

if [ -n "$zsh_file" ] && command -v zsh >/dev/null; then
  zsh -n "$zsh_file" || { echo "$zsh_file: zsh finds a syntax error" >&2; fail=1; }
fi
exit $fail
