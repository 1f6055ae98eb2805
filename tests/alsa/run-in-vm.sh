#!/usr/bin/env bash
# Inside the test VM: loads the sequencer's "Midi Through" client, starts
# Xvfb, runs each ALSA test program in turn and prints how many tests ran
# over the sequencer.   run-in-vm.sh PROGRAM...
set -uo pipefail
[ -e /dev/snd/seq ] || { echo "run-in-vm: no /dev/snd/seq: snd-seq did not load" >&2; exit 125; }
modprobe snd-seq-dummy 2>/dev/null || echo "run-in-vm: snd-seq-dummy (Midi Through) did not load" >&2

Xvfb :7 -screen 0 1280x1024x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
export DISPLAY=:7 QT_QPA_PLATFORM=xcb
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X7 ] && break; sleep 0.1; done

status=0
ran=0
failed=0
for program in "$@"; do
  name=$(basename "$program")
  out=/tmp/$name.xml
  "$program" --gtest_output="xml:$out"
  rc=$?
  [ $rc -ne 0 ] && status=1
  if [ -f "$out" ]; then
    n=$(grep -o '<testsuites tests="[0-9]*" failures="[0-9]*"' "$out" | head -1)
    t=$(echo "$n" | sed 's/.*tests="\([0-9]*\)".*/\1/')
    f=$(echo "$n" | sed 's/.*failures="\([0-9]*\)".*/\1/')
    ran=$((ran + ${t:-0}))
    failed=$((failed + ${f:-0}))
  else
    echo "run-in-vm: $name left no results (exit status $rc)" >&2
    status=1
  fi
done
echo "ALSA sequencer: $ran tests run over ALSA, $failed failed"
[ "$ran" -gt 0 ] || { echo "run-in-vm: no test ran" >&2; status=1; }
exit $status
