# Sourced by the scripts that run Windows programs: a throw-away WINEPREFIX, quiet Wine, no
# installer prompts. Call wine_env_setup first and wine_env_teardown when done.
wine_env_setup() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/mubax-wine.XXXXXX)
  wineboot -i >/dev/null 2>&1
  wineserver -w
}

wine_env_teardown() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}
