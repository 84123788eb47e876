#!/usr/bin/env bash
# Runs one Windows program under Wine for ctest and test discovery: no
# debugger on a crash, no Mono or Gecko prompts, no Wine chatter, and the
# program's CRLF line ends turned into LF so that output parses as on Linux.
# The caller's WINEPREFIX is used (scripts/test-windows.sh sets a private one).
set -o pipefail
wine=${SELVANE_WINE:-}
if [[ -z "$wine" ]]; then
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64)" "$(command -v wine)"; do
    if [[ -n "$candidate" && -x "$candidate" ]]; then
      wine=$candidate
      break
    fi
  done
fi
if [[ -z "$wine" ]]; then
  echo "wine-run.sh: no wine64 found" >&2
  exit 127
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}
"$wine" "$@" | tr -d '\r'
