#!/usr/bin/env bash
# The demo: the launcher simulator drives a real ombrix.exe through the COM
# registration handshake, then the host's other run modes are shown as the
# launcher sees them: command line, exit code, log lines.
set -u
bin=$1
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
  "$run" "$bin/ombrix.exe" "$@" | tr -d '\r' | sed 's/^/  stdout: /'
  printf '  exit code: %s\n' "${PIPESTATUS[0]}"
  show_log
}

simulate "the launcher registers the host (machine-wide, with the handshake)" \
  --step="registration --regserver --logpath=\"$log\"" --step="expect-exit 0"
simulate "the launcher removes the registration" \
  --step="run-host --unregserver --logpath=\"$log\"" --step="expect-exit 0"
show "registration with nobody waiting for the handshake" --regserver --logpath="$log"
show "no arguments"
show "an option the host does not know" --verbose
show "plug-in mode without a plug-in id" --logpath="$log"
show "plug-in mode (binding to the launcher is not built yet)" --plugin-id=7 --logpath="$log"
"$run" "$bin/ombrix.exe" --unregserver >/dev/null 2>&1
exit 0
