#!/usr/bin/env bash
# A Windows program started through wine-run with its output on a pipe, in a prefix no server
# serves: the pipe must close when the program ends, while the prefix's server lives on. Wine's
# server and services inherit the standard error of the program that starts them, and CTest
# waits for a test's pipes to close; a test that started them then ran into its time-out.
#   WineRunPipe.sh <wine-run> <prefix>
set -euo pipefail
wine_run=$1 prefix=$2

server_up() {
  [[ -d $prefix ]] || return 1
  local id
  id=$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))
  [[ -n $(find /proc -mindepth 2 -maxdepth 2 -name cwd -lname "*/$id" -print -quit 2>/dev/null) ]]
}

# This test's own prefix: a server left from its last run is its own to end.
if server_up; then
  WINEPREFIX=$prefix timeout 30 /usr/lib/wine/wineserver -k || true
  WINEPREFIX=$prefix timeout 30 /usr/lib/wine/wineserver -w || true
fi
if server_up; then
  echo "the prefix's server did not end" >&2
  exit 1
fi

timeout 150 "$wine_run" --wineprefix="$prefix" cmd /c echo wine-run-pipe 2>&1 | cat >"$prefix.out"
grep -q wine-run-pipe "$prefix.out" || { echo "the program's output did not arrive" >&2; exit 1; }
if ! server_up; then
  echo "the pipe closed only when the prefix's server ended: Wine's server or services held it" >&2
  exit 1
fi
echo "the pipe closed when the program ended, with the prefix's server still running"
