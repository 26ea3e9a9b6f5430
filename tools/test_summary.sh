#!/usr/bin/env bash
# Counts test cases across CTest runs:
#   test_summary.sh BUILD_DIR XML_DIR [BUILD_DIR XML_DIR ...] [-- CTEST_ARGS]
# CTEST_ARGS (-R, -LE, ... as ctest -N takes them) leave out the tests that did not run.
# Each GoogleTest program leaves <name>.xml in its XML folder. A program that failed
# without a failing case in its report (a crash, a bad exit) counts as one more failure;
# a program that left no report counts as one case.
# Prints "PASSED FAILED".
set -u
passed=0 failed=0
attr() { grep -o -m1 "<testsuites [^>]*" "$1" | grep -o " $2=\"[0-9]*\"" | grep -o '[0-9]*'; }
pairs=()
while [ $# -ge 2 ] && [ "$1" != -- ]; do pairs+=("$1" "$2"); shift 2; done
[ "${1:-}" = -- ] && shift
for ((i = 0; i < ${#pairs[@]}; i += 2)); do
  build=${pairs[i]} xml=${pairs[i + 1]}
  failed_list="$build/Testing/Temporary/LastTestsFailed.log"
  while read -r name; do
    [ -n "$name" ] || continue
    ctest_failed=0
    [ -f "$failed_list" ] && grep -q ":$name\$" "$failed_list" && ctest_failed=1
    report="$xml/$name.xml"
    if [ -f "$report" ]; then
      total=$(attr "$report" tests); bad=$(( $(attr "$report" failures) + $(attr "$report" errors) ))
      passed=$((passed + total - bad)); failed=$((failed + bad))
      [ "$ctest_failed" -eq 1 ] && [ "$bad" -eq 0 ] && failed=$((failed + 1))
    elif [ "$ctest_failed" -eq 1 ]; then failed=$((failed + 1))
    else passed=$((passed + 1)); fi
  done < <(cd "$build" && ctest -N "$@" | sed -n 's/^ *Test *#[0-9]*: //p')
done
echo "$passed $failed"
