#!/usr/bin/env bash
# Starts and stops a private loopback HTTP server (tests/support/httpd.py) for
# one test program; CTest runs these as the fixture around it.
#
#   httpd-ctl.sh start DIR [PORT]
#                            start a server that writes DIR/port and DIR/pid,
#                            and wait (10 s at most) until it answers; on PORT
#                            when given, else on any free port
#   httpd-ctl.sh stop DIR    stop the server of DIR; succeeds when none runs
#
# The server's output goes to DIR/log. It never holds CTest's output pipe:
# CTest would wait for it to end.
set -euo pipefail

[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: httpd-ctl.sh start|stop DIR [PORT]" >&2; exit 2; }
cmd=$1 dir=$(realpath -m "$2") port=${3:-0}
server=$(realpath "$(dirname "$0")/../tests/support/httpd.py")

# The pid in DIR/pid, when it is a server of this DIR still running (a stale
# file must never make us stop another process that got the same pid).
running_pid() {
  local pid cmdline
  pid=$(cat "$dir/pid" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  cmdline=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || return 1
  [[ $cmdline == *"httpd.py --dir $dir "* ]] || return 1
  echo "$pid"
}

# Ended: gone, or a zombie that its new parent (init) has not reaped yet.
ended() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  [ "${stat%% *}" = Z ]
}

stop() {
  local pid
  if pid=$(running_pid); then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do ended "$pid" && break; sleep 0.1; done
    ended "$pid" || kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/pid" "$dir/port"
}

case "$cmd" in
  start)
    stop  # one left over from an interrupted run
    mkdir -p "$dir"
    python3 "$server" --dir "$dir" --port "$port" </dev/null >"$dir/log" 2>&1 &
    child=$!
    for _ in $(seq 100); do
      if [ -s "$dir/port" ]; then
        echo "httpd for $dir: port $(cat "$dir/port"), pid $child"
        exit 0
      fi
      if ! kill -0 "$child" 2>/dev/null; then
        echo "httpd-ctl.sh: the server for $dir ended at start:" >&2
        cat "$dir/log" >&2
        exit 1
      fi
      sleep 0.1
    done
    echo "httpd-ctl.sh: the server for $dir wrote no port within 10 s:" >&2
    cat "$dir/log" >&2
    kill -KILL "$child" 2>/dev/null || true
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: httpd-ctl.sh start|stop DIR" >&2
    exit 2
    ;;
esac
