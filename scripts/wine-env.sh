# Sourced by the scripts that run Windows programs: a virtual X display, a throw-away WINEPREFIX,
# quiet Wine, no installer prompts. Call wine_env_setup first and wine_env_teardown when done.
# The display comes first: a Wine session started without one cannot open windows later.

wine_env_setup() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -z "${DISPLAY:-}" ] || [ -n "${MUBAX_OWN_XVFB:-}" ]; then
    local number=$((90 + $$ % 100))
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
      number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    MUBAX_XVFB_PID=$!
    export DISPLAY=":$number"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
  fi
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/mubax-wine.XXXXXX)
  wineboot -i >/dev/null 2>&1
  # Without a window manager Wine draws the frame itself, so the caption shows on screenshots.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  # One server for the whole session: Wine sometimes fails to start a program while a server that
  # timed out is going away. The server and the services the first program brings up would keep
  # the output pipes of whoever starts them open, so both are started here, detached from ours.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

wine_env_teardown() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ -n "${MUBAX_XVFB_PID:-}" ]; then
    kill "$MUBAX_XVFB_PID" 2>/dev/null || true
    unset MUBAX_XVFB_PID
  fi
}
