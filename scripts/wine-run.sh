#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# PREFIX is the Wine prefix to use; the first run creates it. No display is
# needed, and nothing is logged but the program's own output (unless
# SHUFFLER_WINEDEBUG gives Wine's debug channels, e.g. "+relay").
set -euo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: $0 PREFIX PROGRAM [ARGS...]" >&2
  exit 2
fi
prefix=$1
shift

loader=${SHUFFLER_WINE:-}
if [[ -z "$loader" ]]; then
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" \
                   "$(command -v wine || true)"; do
    if [[ -n "$candidate" && -x "$candidate" ]]; then
      loader=$candidate
      break
    fi
  done
fi
if [[ -z "$loader" ]]; then
  echo "wine-run: no Wine loader found (install wine64)" >&2
  exit 127
fi

mkdir -p "$prefix"
export WINEPREFIX=$(cd "$prefix" && pwd)
export WINEDEBUG=${SHUFFLER_WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and asking for them slows the
# prefix's creation down.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Never open windows on the developer's desktop.
unset DISPLAY WAYLAND_DISPLAY
exec "$loader" "$@"
