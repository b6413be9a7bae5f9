# Shared by the tools: where things are, and how Wine is started on this machine.
# shellcheck shell=bash
TOLVA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian's `wine` script prefers the 32-bit loader; on machines whose kernel cannot execute
# 32-bit ELF programs it then fails, so the 64-bit loader is used directly there.
tolva_wine32_ok() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

tolva_pick_wine() {
  if tolva_wine32_ok; then
    TOLVA_WINE=wine
  else
    TOLVA_WINE=/usr/lib/wine/wine64
    export WINELOADER=/usr/lib/wine/wine64
  fi
}

tolva_wine_env() {  # $1 = build dir
  export WINEPREFIX="$1/wineprefix"
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  tolva_pick_wine
}

# A fresh prefix takes ~15 s; it is made once per build dir.
tolva_ensure_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "-- creating Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$TOLVA_WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w
  fi
}
