#!/bin/sh
# The manual page: groff finds nothing to warn about, and every .TP heading
# is one line (a heading continued on the next line with a font macro would
# be printed as the start of the paragraph below it).
set -eu
page=$1
warnings=$(groff -man -ww -z "$page" 2>&1) || true
if [ -n "$warnings" ]; then
  echo "$page: groff warns:" >&2
  echo "$warnings" >&2
  exit 1
fi
awk -v page="$page" '
  after == 2 && /^\.(B|I|R|BR|RB|BI|IB|IR|RI)( |$)/ {
    printf "%s:%d: the .TP heading above goes on over this line\n", page, NR > "/dev/stderr"; bad = 1
  }
  { after = after > 0 ? after + 1 : 0 }
  /^\.TP/ { after = 1 }
  after > 2 { after = 0 }
  END { exit bad }
' "$page"
