#!/usr/bin/env bash
# Runs the i686 build's checks and test programs in one throw-away boot of the
# prepared guest: run-tests.sh ROOT GUEST_DIR CTEST_ARGS... (the selection as
# ctest takes it: -L vm32-quick, -R NAME, ...). The project tree is shared
# with the guest at its own path; the XML reports land in
# build/i686/test-results, CTest's list of failures in
# build/i686/Testing/Temporary, the guest's log and each program's output in
# build/test32, the names of the tests run in build/test32/tests.txt.
# Prints "PASSED FAILED" of the two exit-code checks.
# OMBRIX_VM32_TIMEOUT_SCALE (default 2) stretches CTest's limits: the emulated
# machine runs the programs 5 to 20 times slower than wine64 here.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
root=$1 guest=$2; shift 2
build="$root/build/i686"
share="$root/build/test32"
scale=${OMBRIX_VM32_TIMEOUT_SCALE:-2}

log() { printf '== %s\n' "$*" >&2; }
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

selection=("$@")
rm -rf "$share" "$build/test-results" && mkdir -p "$share" "$build/test-results" "$build/Testing/Temporary"
# CTest's own record of each test; only the Windows programs run in the guest
# (a script test would need the host's tools there).
(cd "$build" && ctest --show-only=json-v1 "${selection[@]}") | jq -r --argjson scale "$scale" \
  --arg xml "$(windows_path "$build/test-results")\\" '
  .tests[] | select((.command // [""])[0] | endswith(".exe")) |
  (.properties // [] | map({(.name): .value}) | add // {}) as $p |
  "run_test " + ([.name, (($p.TIMEOUT // 1500) * $scale | floor | tostring),
   ($p.WORKING_DIRECTORY // "."), "env", "GTEST_OUTPUT=xml:" + $xml + .name + ".xml"] + ($p.ENVIRONMENT // []) +
   ["wine"] + .command | @sh)' >"$share/tests.sh.body"
[ -s "$share/tests.sh.body" ] || { log "FAILED: CTest lists no such test in $build"; exit 1; }

ombrix=$(printf '%q' "$build/bin/ombrix.exe")
{ echo "check_exit_code 'ombrix.exe without arguments' 2 $ombrix"
  echo "check_exit_code 'ombrix.exe with only --logpath' 3 $ombrix '--logpath=C:\\h.log'"
  cat "$share/tests.sh.body"; } >"$share/tests.sh"
rm "$share/tests.sh.body"
cp "$here/test-job.sh" "$share/job.sh"
sed -n "s/^run_test '\([^']*\)'.*/\1/p" "$share/tests.sh" >"$share/tests.txt"
programs=$(wc -l <"$share/tests.txt")

# Per-test limits in sequence, plus boot and prefix start.
limit=$(awk '$1 == "run_test" { gsub("\x27", "", $3); s += $3 } END { print s + 600 }' "$share/tests.sh")
log "guest: $programs tests, one boot (at most $limit s)"
# The guest writes its log through the share as it goes: show it live.
mkdir -p "$share/out" && : >"$share/out/job.log"
tail -n +1 -F "$share/out/job.log" >&2 2>/dev/null &
follower=$!
rc=0
VM32_TIMEOUT=$limit "$here/boot.sh" "$guest" "$share" --tree "$root" || rc=$?
sleep 1; kill "$follower" 2>/dev/null || true
[ "$rc" -eq 125 ] && exit 1
[ -f "$share/out/failed.log" ] ||
  { log "FAILED: the guest's job ended with $rc before the tests (see $share/out/job.log)"; exit 1; }
cp "$share/out/failed.log" "$build/Testing/Temporary/LastTestsFailed.log"
echo "$(grep -c '^PASS' "$share/out/checks") $(grep -c '^FAIL' "$share/out/checks")"
