#!/usr/bin/env bash
# Starts or stops the JACK server that the MIDI tests talk to.
#
#   jack-server.sh start STATE_DIR   start "jackd --no-realtime -d dummy" in
#                                    the background and wait until it answers
#   jack-server.sh stop STATE_DIR    stop it again
#
# The server's name comes from JACK_DEFAULT_SERVER (default "vlxtest"); its pid
# and log are kept in STATE_DIR. A server of the same name left over from an
# earlier run is stopped before a new one starts. Every wait is bounded.
set -u

action=${1:-}
state_dir=${2:-}
if [ -z "$action" ] || [ -z "$state_dir" ]; then
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
fi

server=${JACK_DEFAULT_SERVER:-vlxtest}
export JACK_DEFAULT_SERVER=$server
export JACK_NO_AUDIO_RESERVATION=1
pid_file=$state_dir/jackd-$server.pid
log_file=$state_dir/jackd-$server.log
mkdir -p "$state_dir"

# Whether pid is a live jackd of ours serving $server.
is_our_server() {
  local pid=$1 state cmdline
  [ -O "/proc/$pid" ] || return 1
  read -r _ _ state _ <"/proc/$pid/stat" 2>/dev/null || return 1
  [ "$state" != Z ] || return 1  # exited; only its parent can reap it
  cmdline=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || return 1
  case "$cmdline" in
    jackd\ * | */jackd\ *) ;;
    *) return 1 ;;
  esac
  case " $cmdline" in
    *" -n $server "* | *" --name $server "* | *" --name=$server "*) return 0 ;;
  esac
  return 1
}

# The pids of every jackd of ours serving $server: the recorded one and any
# left over without a pid file.
server_pids() {
  local pid
  {
    [ -f "$pid_file" ] && cat "$pid_file" 2>/dev/null
    pgrep -x -u "$(id -u)" jackd
  } | sort -u | while read -r pid; do
    [ -n "$pid" ] && is_our_server "$pid" && echo "$pid"
  done
}

stop_pid() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 50); do
    is_our_server "$pid" || return 0
    sleep 0.1
  done
  echo "jackd $pid did not stop in 5 s; killing it" >&2
  kill -KILL "$pid" 2>/dev/null
  for i in $(seq 20); do
    is_our_server "$pid" || return 0
    sleep 0.1
  done
  echo "jackd $pid is still there" >&2
  return 1
}

stop_all() {
  local rc=0 pid
  for pid in $(server_pids); do
    stop_pid "$pid" || rc=1
  done
  rm -f "$pid_file"
  return $rc
}

case "$action" in
  start)
    stop_all || exit 1
    setsid jackd --no-realtime --name "$server" --timeout 5000 -d dummy -r 48000 -p 256 \
      </dev/null >"$log_file" 2>&1 &
    echo $! >"$pid_file"
    if ! timeout 15 jack_wait --server "$server" --wait --timeout 10 >/dev/null 2>&1; then
      echo "the JACK server \"$server\" did not come up; its log:" >&2
      cat "$log_file" >&2
      stop_all
      exit 1
    fi
    if ! is_our_server "$(cat "$pid_file")"; then
      echo "jackd exited; its log:" >&2
      cat "$log_file" >&2
      exit 1
    fi
    echo "JACK server \"$server\" runs as pid $(cat "$pid_file")"
    ;;
  stop)
    stop_all || exit 1
    if timeout 5 jack_wait --server "$server" --check >/dev/null 2>&1 &&
       timeout 5 jack_wait --server "$server" --check 2>/dev/null | grep -qx running; then
      echo "a JACK server \"$server\" still answers" >&2
      exit 1
    fi
    echo "JACK server \"$server\" stopped"
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
