#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ into build/fuzz (clang, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60) on a
# copy of its seed corpus (fuzz/corpus/NAME) plus its regression inputs
# (fuzz/regressions/NAME). Prints one line per target, "NAME: clean (...)" or
# "NAME: FAILED: ...", and exits non-zero when any failed. A failing input is
# left in build/fuzz/runs/NAME/artifacts, the run's log beside it.
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
seconds=${1:-60}
build="$root/build/fuzz"

mkdir -p "$build"
configure() {
  [ -f "$build/build.ninja" ] || cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++
}
if ! configure >"$build/build.log" 2>&1 || ! cmake --build "$build" >>"$build/build.log" 2>&1; then
  tail -n 30 "$build/build.log" >&2
  echo "build: FAILED (see build/fuzz/build.log)"
  exit 1
fi

failed=0
for source in "$root"/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  work="$build/runs/$name"
  rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
  cp "$root/fuzz/corpus/$name/"* "$work/corpus/" 2>/dev/null || true
  inputs=("$work/corpus")
  [ -d "$root/fuzz/regressions/$name" ] && inputs+=("$root/fuzz/regressions/$name")
  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1 -artifact_prefix="$work/artifacts/")
  [ -f "$root/fuzz/$name.dict" ] && options+=(-dict="$root/fuzz/$name.dict")
  # New inputs go to the copy (the first folder); what the targets print
  # themselves (the command line parser's texts) is of no interest here.
  status=0
  "$build/bin/${name}_fuzz" "${options[@]}" "${inputs[@]}" >/dev/null 2>"$work/log" || status=$?
  if [ "$status" -eq 0 ]; then
    executed=$(awk '/^stat::number_of_executed_units/ {print $2}' "$work/log")
    rate=$(awk '/^stat::average_exec_per_sec/ {print $2}' "$work/log")
    tally=$(grep -m1 '^hook planner:' "$work/log" | sed 's/^hook planner: \([^;]*\).*/; \1/' || true)
    echo "$name: clean (${executed:-?} runs, ${rate:-?}/s${tally})"
  else
    failed=$((failed + 1))
    what=$(grep -m1 -E '^property does not hold|^SUMMARY' "$work/log" || echo "exit code $status")
    artifact=$(find "$work/artifacts" -type f | head -n 1)
    echo "$name: FAILED: $what (${artifact:+input: ${artifact#"$root/"}, }log: ${work#"$root/"}/log)"
  fi
done
[ "$failed" -eq 0 ]
