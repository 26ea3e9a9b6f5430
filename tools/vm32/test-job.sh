# Guest job (sh, as root): the 32-bit build's own checks and test programs, in
# the warm prefix, with the project tree mounted at its host path. tests.sh
# beside this file (written by run-tests.sh from CTest's list) calls run_test
# once per program. Writes out/checks (PASS/FAIL lines), out/failed.log (as
# CTest's LastTestsFailed.log) and out/<test>.txt; the XML reports go where
# GTEST_OUTPUT says, in the tree.
export HOME=/root WINEPREFIX=/root/.wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
out=/mnt/share/out
uptime_s() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v a="$(uptime_s)" -v b="$1" 'BEGIN { printf "%.1f", a - b }'; }

# As ./dev.sh test: one persistent server, the prefix started once; Wine's
# services must not hold our output.
s=$(uptime_s)
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
echo "wine: prefix started in $(since "$s") s"

check_exit_code() { # WHAT EXPECTED PROGRAM [ARGS...]
  what=$1 expected=$2; shift 2
  s=$(uptime_s)
  wine "$@" </dev/null >/dev/null 2>&1; rc=$?
  if [ "$rc" = "$expected" ]; then echo "PASS $what exits $expected ($(since "$s") s)" >>"$out/checks"
  else echo "FAIL $what exits $rc, not $expected" >>"$out/checks"; fi
  tail -n 1 "$out/checks"
}

number=0
run_test() { # NAME SECONDS FOLDER COMMAND...
  name=$1 limit=$2 folder=$3; shift 3
  number=$((number + 1))
  s=$(uptime_s)
  (cd "$folder" && timeout "$limit" "$@" </dev/null >"$out/$name.txt" 2>&1); rc=$?
  [ "$rc" = 124 ] && echo "TIMEOUT after $limit s" >>"$out/$name.txt"
  echo "TEST $name exit=$rc seconds=$(since "$s") $(grep -E '^\[  (PASSED|FAILED)  \] [0-9]+ tests?' "$out/$name.txt" | tr '\n' ' ')"
  if [ "$rc" != 0 ]; then
    echo "$number:$name" >>"$out/failed.log"
    grep -E '^\[  FAILED  \] [A-Za-z]' "$out/$name.txt" | sort -u | head -n 20
  fi
}

: >"$out/checks"; : >"$out/failed.log"
. ./tests.sh
wineserver -k; wineserver -w
