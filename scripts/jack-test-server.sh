#!/usr/bin/env bash
# Starts or stops a private JACK server with the dummy driver, for the integration tests.
#   jack-test-server.sh start NAME [sync|async]   |   jack-test-server.sh stop NAME
set -u
cmd=${1:?start or stop}
name=${2:?server name}
mode=${3:-async}
dir=${TMPDIR:-/tmp}
pidfile="$dir/jack-test-$name.pid"
log="$dir/jack-test-$name.log"

stop() {
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    # Only a jackd: a stale file's number may belong to another process by now.
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" != jackd ]; then
        rm -f "$pidfile"
        return 0
    fi
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    rm -f "$pidfile"
}

# jack2 has eight server slots, and a killed server's slot is freed only when a server of the
# same name starts again. With no JACK server running at all, nothing uses the registry, so
# stale slots from crashed runs are cleared.
clear_stale_registry() {
    if ! pgrep -x jackd >/dev/null && ! pgrep -x jackdbus >/dev/null; then
        rm -f /dev/shm/jack-shm-registry /dev/shm/jack_sem.* /dev/shm/jack_db-* \
              /dev/shm/jack-[0-9]*-* /dev/shm/jack_*_[0-9]*_[0-9]* 2>/dev/null
    fi
}

case "$cmd" in
start)
    stop  # a server left behind by an interrupted run
    clear_stale_registry
    # Detached from ctest's pipes, or ctest would wait for the server to exit. The long client
    # timeout keeps a slow client connected; see cmake/testing.cmake for the choice of mode.
    # A client that misses its cycle misses the MIDI of that cycle, and a test then waits in
    # vain for a message that was sent. Real-time priority (where allowed: without it jackd
    # runs on as before) and 5 ms cycles make such misses rare on a loaded machine.
    sync=()
    [ "$mode" = sync ] && sync=(--sync)
    setsid jackd --realtime "${sync[@]}" --timeout 5000 -n "$name" -d dummy -r 48000 -p 256 </dev/null >"$log" 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 1 100); do
        if JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER="$name" jack_lsp >/dev/null 2>&1; then
            exit 0
        fi
        sleep 0.1
    done
    echo "JACK test server '$name' did not start:" >&2
    cat "$log" >&2
    stop
    exit 1
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start|stop NAME" >&2
    exit 2
    ;;
esac
