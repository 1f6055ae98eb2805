#!/usr/bin/env bash
# Starts or stops the JACK server that the MIDI tests talk to.
#
#   jack-server.sh start STATE_DIR   start "jackd --no-realtime --sync -d dummy"
#                                    in the background and wait until it
#                                    takes clients
#   jack-server.sh stop STATE_DIR    stop it again
#
# The server's name comes from JACK_DEFAULT_SERVER (default "vlxtest"); its pid
# and log are kept in STATE_DIR (the build folder). The server belongs to the
# test run that started it (the script's parent, normally ctest), which is
# recorded in the server's environment as VLX_JACK_OWNER. Before starting, a
# server of the same name whose run has ended is stopped; one that another
# live run (another build folder) still uses is waited for, up to
# VLX_JACK_WAIT seconds (default 120). Every wait is bounded.
#
# The server runs in sync mode: each cycle waits for every client, so a
# client slowed down (a loaded machine, a sanitizer build) delays the MIDI
# events instead of losing them.
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
owner=$PPID
mkdir -p "$state_dir"
state_dir=$(cd "$state_dir" && pwd)
pid_file=$state_dir/jackd-$server.pid
log_file=$state_dir/jackd-$server.log
lock_file=${TMPDIR:-/tmp}/vlx-jackd-$(id -u)-$server.lock

# Whether the process is alive (not gone, not a zombie).
alive() {
  local state
  { read -r _ _ state _ <"/proc/$1/stat"; } 2>/dev/null || return 1
  [ "$state" != Z ]
}

# Whether pid is a live jackd of ours serving $server.
is_our_server() {
  local pid=$1 cmdline
  [ -O "/proc/$pid" ] && alive "$pid" || return 1
  cmdline=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || return 1
  case "$cmdline" in
    jackd\ * | */jackd\ *) ;;
    *) return 1 ;;
  esac
  case " $cmdline" in
    *" -n $server "* | *" --name $server "*) return 0 ;;
  esac
  return 1
}

# A variable from the environment a server was started with.
server_env() {
  tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | sed -n "s/^$2=//p"
}

# The pids of every jackd of ours serving $server.
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

# Stops every server of this name that no other live run owns. Prints the
# ones another run owns.
stop_unowned() {
  local pid run
  for pid in $(server_pids); do
    run=$(server_env "$pid" VLX_JACK_OWNER)
    if [ -n "$run" ] && [ "$run" != "$owner" ] && alive "$run"; then
      echo "jackd $pid, owned by test run $run in $(server_env "$pid" VLX_JACK_STATE_DIR)"
    else
      stop_pid "$pid" >&2
    fi
  done
}

start() {
  local deadline=$((SECONDS + ${VLX_JACK_WAIT:-120})) busy pid
  while busy=$(stop_unowned) && [ -n "$busy" ]; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "the JACK server \"$server\" is still in use: $busy" >&2
      return 1
    fi
    sleep 0.5
  done
  rm -f "$pid_file"
  VLX_JACK_OWNER=$owner VLX_JACK_STATE_DIR=$state_dir \
    setsid jackd --no-realtime --sync --name "$server" --timeout 5000 -d dummy -r 48000 -p 1024 \
    </dev/null >"$log_file" 2>&1 9>&- &
  pid=$!
  echo "$pid" >"$pid_file"
  if ! timeout 15 jack_wait --server "$server" --wait --timeout 10 >/dev/null 2>&1 || ! is_our_server "$pid"; then
    echo "the JACK server \"$server\" did not come up; its log:" >&2
    cat "$log_file" >&2
    is_our_server "$pid" && stop_pid "$pid"
    rm -f "$pid_file"
    return 1
  fi
  # Answering jack_wait is not yet taking clients: wait for a full client
  # round trip as well.
  local ready_by=$((SECONDS + 10))
  until timeout 5 jack_lsp --server "$server" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$ready_by" ] || ! is_our_server "$pid"; then
      echo "the JACK server \"$server\" takes no clients; its log:" >&2
      cat "$log_file" >&2
      stop_pid "$pid"
      rm -f "$pid_file"
      return 1
    fi
    sleep 0.2
  done
  echo "JACK server \"$server\" runs as pid $pid"
}

stop() {
  local rc=0 pid run
  for pid in $(server_pids); do
    run=$(server_env "$pid" VLX_JACK_OWNER)
    # Ours: recorded here, or started by this run.
    if [ "$pid" = "$(cat "$pid_file" 2>/dev/null)" ] || [ "$run" = "$owner" ]; then
      stop_pid "$pid" || rc=1
    fi
  done
  rm -f "$pid_file"
  [ $rc = 0 ] && echo "JACK server \"$server\" stopped"
  return $rc
}

case "$action" in
  start)
    # One start at a time per server name on this machine.
    exec 9>"$lock_file"
    if ! flock -w 150 9; then
      echo "another test run keeps $lock_file locked" >&2
      exit 1
    fi
    start
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
