#!/usr/bin/env bash
# Shows the host's run modes as the launcher sees them: each command line, the
# exit code and the log lines it wrote.
set -u
bin=$1
run=$(dirname "$(readlink -f "$0")")/wine-run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="Z:${work//\//\\}\\ombrix.log"

show() {
  local title=$1; shift
  printf '\n### %s\n$ ombrix.exe %s\n' "$title" "$*"
  : > "$work/ombrix.log"
  "$run" "$bin/ombrix.exe" "$@" | tr -d '\r' | sed 's/^/  stdout: /'
  printf '  exit code: %s\n' "${PIPESTATUS[0]}"
  [ -s "$work/ombrix.log" ] && sed -e 's/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/^/  log: /' "$work/ombrix.log"
}

show "no arguments" 
show "an option the host does not know" --verbose
show "plug-in mode without a plug-in id" --logpath="$log"
show "plug-in mode (binding to the launcher not available yet)" --plugin-id=7 --logpath="$log"
show "admin host (registration with the launcher not available yet)" --adminhost --logpath="$log"
show "registration (not available yet)" --regserver --logpath="$log"
show "--unregserver wins over --regserver" --regserver --unregserver --logpath="$log"
exit 0
