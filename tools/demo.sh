#!/usr/bin/env bash
# The demo: the launcher simulator drives a real ombrix.exe through the COM
# registration handshake, then runs the sample plug-in through a whole session
# as a plug-in author would (transcript, verdict, the host's log), lets an admin
# host start an elevated plug-in host and report its exit code, then the
# host's other run modes are shown as the launcher sees them: command line,
# exit code, log lines.
set -u
bin=$(readlink -f "$1")
run=$(dirname "$(readlink -f "$0")")/wine-run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
log=$(winpath "$work/ombrix.log")

show_log() {
  [ -s "$work/ombrix.log" ] && sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/^/  host log: /' "$work/ombrix.log"
  : > "$work/ombrix.log"
}

simulate() {
  local title=$1; shift
  printf '\n### %s\n' "$title"
  : > "$work/transcript.txt"
  "$run" "$bin/launcher-sim.exe" --transcript="$(winpath "$work/transcript.txt")" "$@" >/dev/null 2>&1
  local code=$?
  sed -e 's/\r$//' -e 's/^/  launcher: /' "$work/transcript.txt"
  show_log
  printf '  launcher-sim exit code: %s\n' "$code"
}

show() {
  local title=$1; shift
  printf '\n### %s\n$ ombrix.exe %s\n' "$title" "$*"
  # Through the relay: the exit code the launcher sees (see ./dev.sh wine).
  "$run" "$bin/exit-code-relay.exe" "$(winpath "$bin/ombrix.exe")" "$@" | tr -d '\r' | sed 's/^/  stdout: /'
  printf '  exit code: %s\n' "${PIPESTATUS[0]}"
  show_log
}

simulate "the launcher registers the host (machine-wide, with the handshake)" \
  --step="registration --regserver --logpath=\"$log\"" --step="expect-exit 0"
simulate "the launcher removes the registration" \
  --step="run-host --unregserver --logpath=\"$log\"" --step="expect-exit 0"
author_session() {
  printf '\n### %s\n$ launcher-sim.exe --plugin=%s\n' "$1" "$2"
  local output code hostlog
  output=$(set -o pipefail; "$run" "$bin/launcher-sim.exe" --plugin="$(winpath "$2")" 2>/dev/null | tr -d '\r')
  code=$?
  printf '%s\n' "$output" | sed 's/^/  /'
  printf '  launcher-sim exit code: %s\n' "$code"
  hostlog=$(printf '%s\n' "$output" | sed -n 's/^host log: //p')
  [ -n "$hostlog" ] || return 0
  hostlog=$("$run" winepath -u "$hostlog" 2>/dev/null | tr -d '\r')
  [ -f "$hostlog" ] && sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/^/  host log: /' "$hostlog"
  rm -f "$hostlog"
}

author_session "a plug-in author runs the sample plug-in through a whole session" "$bin/sample_plugin.dll"
simulate "the admin host starts an elevated plug-in host for plug-in 4 and reports its exit" \
  --plugin-path=sample_plugin.dll --work-dir="$(winpath "$bin")" \
  --step="publish first" --step="run-host --adminhost --logpath=\"$log\"" --step="await-admin-host" \
  --step="admin startElevated 2.0 4 => S_OK" --step="await-plugin" --step="call name => S_OK" \
  --step="call deinitialize => S_OK" --step="await-closed 4 0" --step="admin deinitAdminHost => S_OK" \
  --step="expect-exit 0"
show "registration with nobody waiting for the handshake" --regserver --logpath="$log"
show "no arguments"
show "an option the host does not know" --verbose
show "plug-in mode without a plug-in id" --logpath="$log"
show "plug-in mode with no launcher running" --plugin-id=7 --logpath="$log"
"$run" "$bin/ombrix.exe" --unregserver >/dev/null 2>&1
exit 0
