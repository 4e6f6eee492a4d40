# Shared by scripts/wine-run and scripts/wine-session (sourced, not run).
#
# Layout under a build folder B (the folder that holds CMakeCache.txt):
#   B/wine/prefix/         the Wine prefix of this build, made once, reused by every run
#   B/wine/prefix.lock     flock: only one process creates the prefix
#   B/wine/session         "DISPLAY=:N" and "XVFB_PID=P" while a test session is up
#   B/wine/private.lock    flock: runs without a session (and session start) take turns,
#                          because a private run stops the prefix's server when it ends
#   B/wine/*.log           output of Xvfb, the Wine server and prefix creation
# Locks are held on descriptor 9, which is closed for every long-lived child: a server or Xvfb
# that inherited it would hold the lock for its whole life.
#
# Every program is started through the 64-bit loader, in a 64-bit prefix; it hands 32-bit
# programs (the release setup.exe) to Debian's 32-bit Wine, where the kernel runs 32-bit code
# (scripts/wine-probe-i686 tells). The loader and the server are named directly, not through
# the `wine` wrapper, so that the same ones serve every program whatever the machine.

WINE_LOADER=/usr/lib/wine/wine64
WINE_SERVER=/usr/lib/wine/wineserver64

wine_die() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# Prints the build folder for a run of program $1: $WINE_RUN_BUILD_DIR when set (the e2e tests
# set it), else the nearest folder above the program, else above the current directory, that
# holds CMakeCache.txt. Returns 1 when there is none.
wine_find_build_dir() {
  if [ -n "${WINE_RUN_BUILD_DIR:-}" ]; then
    (cd "$WINE_RUN_BUILD_DIR" && pwd -P)
    return
  fi
  local start d
  for start in "$(dirname -- "${1:-.}")" "$PWD"; do
    d=$(cd "$start" 2>/dev/null && pwd -P) || continue
    while [ -n "$d" ]; do
      if [ -f "$d/CMakeCache.txt" ]; then
        echo "$d"
        return 0
      fi
      [ "$d" = / ] && break
      d=$(dirname -- "$d")
    done
  done
  return 1
}

# Exports the environment every Wine process of build folder $1 runs with.
wine_export_env() {
  export WINEPREFIX="$1/wine/prefix"
  export WINEARCH=win64
  export WINESERVER="$WINE_SERVER"
  export WINEDEBUG="${WINEDEBUG:--all}"
  # Read only by qemu-i386, where it runs 32-bit Wine (scripts/i386-emulation). It reserves
  # the guest's whole 4 GiB, and in there 32-bit Wine's start, which reserves everything above
  # its 2 GiB user space in steps that halve on failure, fails every step down to 64 KiB:
  # about 80 s of processor time per program start. The user space and Wine's own areas end
  # at 0x82000000, the guest stack goes above them, and with the guest ending at 0x83000000
  # Wine has only 16 MiB left to try: about 5 s a start (docs/benchmarks.md).
  export QEMU_RESERVED_VA="${QEMU_RESERVED_VA:-0x83000000}"
  # No Mono or Gecko: Wine would otherwise offer, in a dialog, to download them.
  export WINEDLLOVERRIDES="mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
}

# Makes build folder $1's prefix unless it is there already. Safe when several processes call
# it at once: the first one builds it under a temporary name and renames it when complete, the
# others wait on the lock and then find it ready.
wine_ensure_prefix() {
  local b="$1" wdir="$1/wine"
  [ -f "$wdir/prefix/.setupboot-ready" ] && return 0
  mkdir -p "$wdir"
  (
    flock 9
    [ -f "$wdir/prefix/.setupboot-ready" ] && exit 0
    local tmp="$wdir/prefix.new"
    rm -rf "$tmp" "$wdir/prefix"
    local log="$wdir/prefix.log"
    echo "wine: creating the prefix $wdir/prefix (about 10 s, once per build folder)" >&2
    # Created without a display: nothing in the prefix depends on it, and a display-less
    # wineboot cannot put up any window.
    env -u DISPLAY WINEPREFIX="$tmp" "$WINE_LOADER" wineboot --init >"$log" 2>&1 9>&- ||
      wine_die "wineboot failed, see $log"
    # Without a window manager Wine's managed windows make every GUI process take about 2 s
    # longer to exit.
    env -u DISPLAY WINEPREFIX="$tmp" "$WINE_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /d N /f >>"$log" 2>&1 9>&- || wine_die "reg add failed, see $log"
    # Stopping the server writes the registry to the prefix's files.
    WINEPREFIX="$tmp" "$WINE_SERVER" -k >>"$log" 2>&1 || true
    WINEPREFIX="$tmp" "$WINE_SERVER" -w >>"$log" 2>&1 || true
    grep -q '"Managed"="N"' "$tmp/user.reg" || wine_die "prefix lacks Managed=N, see $log"
    touch "$tmp/.setupboot-ready"
    mv "$tmp" "$wdir/prefix"
  ) 9>"$wdir/prefix.lock"
}

# Starts an Xvfb on a free display. Sets XVFB_PID and XVFB_DISPLAY. $1: log file.
wine_start_xvfb() {
  local log="$1" dfile
  dfile=$(mktemp)
  # -displayfd lets the server choose a free display and report it once it accepts clients.
  # setsid: the server is not in the caller's process group, so a Ctrl-C aimed at a test run
  # leaves it to the cleanup that owns it; its output goes to the log, never to the caller's
  # pipes (ctest waits until every holder of a test's output pipe has closed it).
  setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$dfile" </dev/null \
    >"$log" 2>&1 9>&- &
  XVFB_PID=$!
  local i
  for i in $(seq 200); do
    if grep -q '^[0-9][0-9]*$' "$dfile" 2>/dev/null; then
      XVFB_DISPLAY=":$(cat "$dfile")"
      rm -f "$dfile"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$dfile"
  wine_stop_xvfb "$XVFB_PID"
  wine_die "Xvfb did not start, see $log"
}

# True when process $1 exists and is an Xvfb (a pid from a stale file may have been reused).
wine_is_xvfb() {
  [ -n "$1" ] && [ "$(cat "/proc/$1/comm" 2>/dev/null)" = Xvfb ]
}

# Stops Xvfb process $1 and waits (up to 10 s) until it is gone.
wine_stop_xvfb() {
  wine_is_xvfb "$1" || return 0
  kill "$1" 2>/dev/null || return 0
  local i
  for i in $(seq 200); do
    wine_is_xvfb "$1" || return 0
    sleep 0.05
  done
  kill -9 "$1" 2>/dev/null || true
}

# Stops the Wine server of the exported WINEPREFIX and everything running in it.
wine_stop_server() {
  "$WINE_SERVER" -k >/dev/null 2>&1 || true
  timeout 20 "$WINE_SERVER" -w >/dev/null 2>&1 || true
}

# Reads build folder $1's session file. Succeeds, with SESSION_DISPLAY and SESSION_XVFB_PID
# set, when a session is up (its Xvfb still runs).
wine_session_alive() {
  local f="$1/wine/session" line
  SESSION_DISPLAY= SESSION_XVFB_PID=
  [ -f "$f" ] || return 1
  while IFS= read -r line; do
    case "$line" in
      DISPLAY=*) SESSION_DISPLAY=${line#DISPLAY=} ;;
      XVFB_PID=*) SESSION_XVFB_PID=${line#XVFB_PID=} ;;
    esac
  done <"$f"
  [ -n "$SESSION_DISPLAY" ] && wine_is_xvfb "$SESSION_XVFB_PID"
}
