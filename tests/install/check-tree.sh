#!/usr/bin/env bash
# Runs an installed editor, headless, as a user who cannot write its program
# folder, with a fresh XDG_CONFIG_HOME, and checks what it leaves there:
#   - it starts and is still running after a few seconds;
#   - System.ini and customer.cus appear in $XDG_CONFIG_HOME/vellox/, and
#     nothing in the program folder;
#   - with a check program (vlx_edit_in_user_folder), the same user's window
#     finds the byte-exact factory profile there, opens without an error, and
#     a control is selected, changed and saved;
#   - a second start of the installed editor leaves both files as they are.
#
#   check-tree.sh <installed bin folder> [<check program>]
#
# As root the programs run as nobody (setpriv); otherwise the program folder
# is made read-only for the run. Exit status 77: cannot run as another user.
set -euo pipefail

bin=$(cd "$1" && pwd)
check=${2:-}
editor=$bin/VLX210_MIDI_Editor
[ -x "$editor" ] || { echo "no editor at $editor" >&2; exit 1; }

work=$(mktemp -d)
restore=
cleanup() {
  [ -n "$restore" ] && chmod u+w "$bin"
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
config=$work/config
mkdir "$config"

if [ "$(id -u)" -eq 0 ]; then
  if ! command -v setpriv >/dev/null || ! setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null; then
    echo "SKIP: cannot run as nobody here (setpriv from util-linux is needed)"
    exit 77
  fi
  chown nobody:nogroup "$config"
  as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
  # nobody must reach the program: every folder above it must be searchable.
  d=$bin
  while [ "$d" != / ]; do
    if ! setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$d"; then
      echo "SKIP: nobody cannot reach $bin ($d is closed)"
      exit 77
    fi
    d=$(dirname "$d")
  done
else
  chmod a-w "$bin"
  restore=1
  as_user() { "$@"; }
fi

# A clean environment for the user's programs; a sanitizer build keeps its
# options, with copies of its suppression files that the user can read.
user_env=(env -i PATH=/usr/bin:/bin HOME="$work/no-home" XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=offscreen)
for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS; do
  value=${!v:-}
  [ -n "$value" ] || continue
  if [[ $value =~ suppressions=([^:]+) ]] && [ -f "${BASH_REMATCH[1]}" ]; then
    cp "${BASH_REMATCH[1]}" "$work/$v.supp"
    chmod 644 "$work/$v.supp"
    value=${value/suppressions=${BASH_REMATCH[1]}/suppressions=$work/$v.supp}
  fi
  user_env+=("$v=$value")
done

# The editor keeps running until it is stopped: timeout's status 124.
run_editor() {
  local status=0
  (cd "$work" && as_user "${user_env[@]}" timeout -s TERM 4 "$editor") >"$work/editor.log" 2>&1 || status=$?
  if [ "$status" -ne 124 ]; then
    echo "FAILED: the installed editor ended with status $status within 4 s:" >&2
    cat "$work/editor.log" >&2
    exit 1
  fi
}

listing() { ls -A "$bin" | sort; }
before=$(listing)
run_editor

folder=$config/vellox
fail=0
expect() {  # condition text, command...
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what" >&2
    fail=1
  fi
}
expect "System.ini is in $folder" test -f "$folder/System.ini"
expect "customer.cus is in $folder" test -f "$folder/customer.cus"
expect "System.ini names the user's customer.cus" \
  test "$(cat "$folder/System.ini" 2>/dev/null)" = "$(printf '[System]\nFilePath=%s/customer.cus' "$folder")"
expect "customer.cus holds 4,536 bytes" test "$(stat -c %s "$folder/customer.cus" 2>/dev/null)" = 4536
expect "nothing was written into the program folder" test "$(listing)" = "$before"
[ "$fail" -eq 0 ] || exit 1

if [ -n "$check" ]; then
  cp "$check" "$work/check"
  chmod 755 "$work/check"
  (cd "$work" && as_user "${user_env[@]}" "$work/check" "$bin") ||
    { echo "FAILED: select, change and save in $folder" >&2; exit 1; }
fi

# A second start loads what is there and rewrites nothing.
ini=$(cat "$folder/System.ini")
profile=$(sha256sum <"$folder/customer.cus")
run_editor
expect "a second start leaves System.ini as it was" test "$(cat "$folder/System.ini")" = "$ini"
expect "a second start leaves customer.cus as it was" test "$(sha256sum <"$folder/customer.cus")" = "$profile"
expect "nothing was written into the program folder" test "$(listing)" = "$before"
[ "$fail" -eq 0 ] || exit 1
echo "the installed editor at $bin keeps its settings in \$XDG_CONFIG_HOME/vellox/"
