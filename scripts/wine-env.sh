# Wine environment of one build tree: its own prefix, home, XDG folders, temp folder and display.
# Source this file, then: qb_wine_env <build-dir>; qb_wine_up; ... ; qb_wine_down
# Nothing here touches the real user's ~/.wine, home or trash.

qb_wine_env() {
  local build
  build=$(cd "$1" && pwd)
  export QB_WINE_DIR="$build/wine"
  export QB_BUILD_DIR="$build"
  mkdir -p "$QB_WINE_DIR"/{home,data,cache,config,tmp}
  export WINEPREFIX="$QB_WINE_DIR/prefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export HOME="$QB_WINE_DIR/home"
  export XDG_DATA_HOME="$QB_WINE_DIR/data"
  export XDG_CACHE_HOME="$QB_WINE_DIR/cache"
  export XDG_CONFIG_HOME="$QB_WINE_DIR/config"
  export TMPDIR="$QB_WINE_DIR/tmp"
  if [ -z "${QB_KEEP_DISPLAY:-}" ] && [ -f "$QB_WINE_DIR/display" ]; then
    export DISPLAY
    DISPLAY=$(cat "$QB_WINE_DIR/display")
  fi
}

# True when an X server answers on $DISPLAY.
qb_display_alive() {
  [ -n "${DISPLAY:-}" ] || return 1
  local n=${DISPLAY#:}
  n=${n%%.*}
  [ -S "/tmp/.X11-unix/X$n" ] || return 1
  [ -f "$QB_WINE_DIR/xvfb.pid" ] && ! kill -0 "$(cat "$QB_WINE_DIR/xvfb.pid")" 2>/dev/null \
    && [ "$(cat "$QB_WINE_DIR/display" 2>/dev/null)" = "$DISPLAY" ] && return 1
  return 0
}

# Starts what the tree's Wine needs, once: Xvfb when there is no display, the persistent
# wineserver (before any other Wine process, so no test's pipes are handed to the system
# processes), and the prefix. Safe to call from several processes at once.
qb_wine_up() {
  (
    flock 9
    # Another process may have set the display up while this one waited for the lock.
    if [ -z "${QB_KEEP_DISPLAY:-}" ] && [ -f "$QB_WINE_DIR/display" ]; then
      DISPLAY=$(cat "$QB_WINE_DIR/display")
    fi
    local restart=0
    if ! qb_display_alive; then
      local n=90
      while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
      # QB_XVFB_SCREEN gives another screen (a test at a high display scale needs a larger one).
      Xvfb ":$n" -screen 0 "${QB_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
      echo $! >"$QB_WINE_DIR/xvfb.pid"
      echo ":$n" >"$QB_WINE_DIR/display"
      export DISPLAY=":$n"
      for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
      restart=1
    fi
    # A server that runs with another display would keep it: start over.
    if [ "$restart" = 1 ] || [ "$(cat "$QB_WINE_DIR/server-display" 2>/dev/null)" != "$DISPLAY" ]; then
      # Exits 1 when no server runs, which is fine here.
      wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
      wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
    fi
    local rc=0
    wineserver -p </dev/null >/dev/null 2>&1 9>&- || rc=$?
    echo "$DISPLAY" >"$QB_WINE_DIR/server-display"
    if [ "$rc" = 0 ] || [ ! -f "$QB_WINE_DIR/booted" ]; then
      # The first Wine process of a session runs the system's own start-up (and creates the
      # prefix when missing); an explicit "wineboot -i" would start a second services.exe.
      wineboot </dev/null >/dev/null 2>&1 9>&- || true
      if [ ! -f "$QB_WINE_DIR/booted" ]; then
        # Xvfb has no window manager: unmanaged windows hide at once instead of waiting
        # seconds for a manager to confirm.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
          </dev/null >/dev/null 2>&1 9>&- || true
        touch "$QB_WINE_DIR/booted"
      fi
    fi
    # One idle program keeps the desktop open between test programs (see DesktopKeeper_win).
    local keeper="$QB_BUILD_DIR/bin/qb_desktop_keeper.exe"
    if [ -f "$keeper" ] && ! { [ -f "$QB_WINE_DIR/keeper.pid" ] && kill -0 "$(cat "$QB_WINE_DIR/keeper.pid")" 2>/dev/null; }; then
      rm -f "$QB_WINE_DIR/desktop-ready"
      wine "$keeper" "Z:${QB_WINE_DIR//\//\\}\\desktop-ready" </dev/null >/dev/null 2>&1 9>&- &
      echo $! >"$QB_WINE_DIR/keeper.pid"
      # Tests start only on a desktop that is up (bounded: a slow one still lets them run).
      for _ in $(seq 300); do [ -f "$QB_WINE_DIR/desktop-ready" ] && break; sleep 0.1; done
    fi
  ) 9>"$QB_WINE_DIR/lock"
  export DISPLAY
  DISPLAY=$(cat "$QB_WINE_DIR/server-display")
}

# Ends this prefix's Wine programs and server, and the Xvfb started for it.
qb_wine_down() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  if [ -f "$QB_WINE_DIR/xvfb.pid" ]; then
    kill "$(cat "$QB_WINE_DIR/xvfb.pid")" 2>/dev/null || true
    rm -f "$QB_WINE_DIR/xvfb.pid" "$QB_WINE_DIR/display"
  fi
  rm -f "$QB_WINE_DIR/server-display"
}
