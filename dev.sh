#!/usr/bin/env bash
# Developer entry point: setup, build, test, demo, bench, and running a Windows
# program of the build under the project's Wine prefix.
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
build="$root/build"
deps="$build/deps"
stamps="$build/.stamps"

packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine64
          cmake ninja-build libboost-dev libcereal-dev libutfcpp-dev libmsgsl-dev googletest
          xz-utils g++ make pkg-config libunicorn-dev libcapstone-dev libzydis-dev libzycore-dev dpkg-dev
          clang lld libclang-rt-14-dev zip)
# The 32-bit suite's: an emulated x86-64 machine and what builds its disk.
vm32_packages=(qemu-system-x86 debootstrap e2fsprogs xz-utils jq)

log() { printf '== %s\n' "$*" >&2; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

export WINEPREFIX="$build/wine"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

# The machine's own package sources, repeated as source-package entries (same
# addresses, suites, components and keyring), so that whatever mirror or proxy
# the machine is set up for also serves the sources. Reads what apt reads:
# sources.list, *.list and *.sources, skipping stanzas with "Enabled: no".
source_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '
      $1 != "deb" { next }
      { i = 2; opts = "" }
      $2 ~ /^\[/ { while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ } }
      {
        key = ""; if (match(opts, /signed-by=[^] ]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
        comps = ""; for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
        printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n%s\n", $i, $(i + 1), comps,
               (key != "" ? "Signed-By: " key "\n" : "")
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$(basename "$f")" != ombrix-src.sources ] || continue
    awk '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && enabled != "no" && uris != "")
          printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n%s\n", uris, suites, comps,
                 (keys != "" ? "Signed-By: " keys "\n" : "")
        types = uris = suites = comps = keys = enabled = ""
      }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      { key = tolower($1); sub(/^[^:]*:[[:space:]]*/, "") }
      key == "types:" { types = $0 }
      key == "uris:" { uris = $0 }
      key == "suites:" { suites = $0 }
      key == "components:" { comps = $0 }
      key == "signed-by:" { keys = $0 }
      key == "enabled:" { enabled = tolower($0) }
      END { flush() }' "$f"
  done
}

# A mirror in the middle of a sync fails single index files ("File has unexpected
# size ... Mirror sync in progress?"), and a network that is briefly away fails
# every fetch while apt-get update still exits 0 ("W: Failed to fetch"): either
# way retry for a while, then go on and let the install and the source checks
# say what is really missing, with apt's own words of the last try.
apt_update() {
  local try out
  for try in 1 2 3 4 5; do
    if out=$(as_root apt-get update -qq 2>&1) && ! grep -qE '^(W: Failed to fetch|E: )' <<<"$out"; then
      return 0
    fi
    log "apt-get update failed (try $try of 5)"
    [ "$try" -lt 5 ] && sleep $((try * 8))
  done
  printf '%s\n' "$out" | grep -E '^(W|E): ' | head -8 >&2
  return 0
}

setup_packages() {
  local src=/etc/apt/sources.list.d/ombrix-src.sources entries updated=
  entries=$(source_entries)
  if [ "$entries" != "$(cat "$src" 2>/dev/null)" ]; then
    log "adding source-package entries for the machine's package sources"
    printf '%s\n' "$entries" | as_root tee "$src" >/dev/null
    apt_update
    updated=1
  fi
  install_packages "$updated" "${packages[@]}"
}

# install_packages UPDATED PACKAGE...: installs those not installed yet,
# updating the index first unless UPDATED is non-empty.
install_packages() {
  local updated=$1 missing=() p
  shift
  for p; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    [ -n "$updated" ] || apt_update
    if ! as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
         "${missing[@]}" >/dev/null; then
      local absent=()
      for p in "${missing[@]}"; do
        apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: [^(]' || absent+=("$p")
      done
      echo "setup: cannot install ${absent[*]:-${missing[*]}} from the configured package sources" >&2
      exit 1
    fi
  fi
}

# apt-get source fails quietly when no source index names the package. The
# entries may be in place while their index is not (a machine image that
# keeps /etc/apt but not the downloaded lists): fetch the index once, then decide.
require_source_package() {
  apt-cache showsrc "$1" 2>/dev/null | grep -q '^Package:' && return
  apt_update
  apt-cache showsrc "$1" 2>/dev/null | grep -q '^Package:' && return
  echo "setup: the source package $1 is not in the configured package sources" >&2
  exit 1
}

# What setup downloads besides installing packages is kept per machine, outside
# the work tree, so that a fresh clone on a machine that ran setup before needs
# no network for it.
cache="${OMBRIX_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/ombrix}"

# The newest cached file matching a pattern, if any.
cached() {
  local f
  f=$(find "$cache" -maxdepth 1 -name "$1" 2>/dev/null | sort -V | tail -n 1)
  [ -n "$f" ] && printf '%s\n' "$f"
}

# download PATTERN WHAT COMMAND...: runs COMMAND in an empty folder, a few times
# if it fails, and keeps the one file matching PATTERN in the cache.
download() {
  local pattern=$1 what=$2 tmp try f
  shift 2
  mkdir -p "$cache"
  tmp=$(mktemp -d "$cache/.download.XXXXXX")
  for try in 1 2 3; do
    (cd "$tmp" && "$@" >/dev/null 2>&1) && f=$(find "$tmp" -maxdepth 1 -name "$pattern" | head -n 1) && [ -n "$f" ] && break
    f=
    log "downloading $what failed (try $try of 3)"
    [ "$try" -lt 3 ] && sleep $((try * 8))
  done
  [ -n "$f" ] && mv "$f" "$cache/"
  rm -rf "$tmp"
  [ -n "$f" ] || { echo "setup: cannot download $what from the configured package sources" >&2; exit 1; }
  cached "$pattern"
}

# The upstream tarball of a Debian source package.
source_tarball() {
  local package=$1 pattern=$2
  cached "$pattern" && return
  require_source_package "$package"
  download "$pattern" "the source package $package" apt-get source --download-only "$package"
}

# MinGW must never see /usr/include, so the header-only dependencies are offered
# through a folder of symlinks.
setup_header_deps() {
  mkdir -p "$deps/include"
  for h in boost cereal gsl utf8cpp utf8 utf8.h Zycore; do
    # Another work tree may share build/deps and be compiling through these links.
    [ "$(readlink "$deps/include/$h")" = "/usr/include/$h" ] || ln -sfn "/usr/include/$h" "$deps/include/$h"
  done
}

setup_boost_sources() {
  [ -f "$stamps/boost-src" ] && return
  log "fetching the Boost 1.74 sources"
  local tarball
  tarball=$(source_tarball boost1.74 'boost1.74_*.orig.tar.xz')
  rm -rf "$deps/src" && mkdir -p "$deps/src"
  tar -xJf "$tarball" -C "$deps/src" --wildcards '*/libs/program_options/src/*' '*/libs/filesystem/src/*'
  mkdir -p "$stamps" && touch "$stamps/boost-src"
}

# The Zydis decoder for the Windows builds (natively, Debian's libzydis-dev serves).
setup_zydis_sources() {
  [ -f "$stamps/zydis-src" ] && return
  log "fetching the Zydis sources"
  local tarball
  tarball=$(source_tarball zydis 'zydis_*.orig.tar.gz')
  rm -rf "$deps/src/zydis" && mkdir -p "$deps/src/zydis"
  tar -xzf "$tarball" -C "$deps/src/zydis" --strip-components=1
  touch "$stamps/zydis-src"
}

# The 32-bit Wine system DLLs, as test data for the hook planner: unpacked, not installed.
setup_wine_i386_images() {
  [ -f "$stamps/wine-i386-images" ] && return
  log "fetching the 32-bit Wine system DLLs"
  local deb
  if ! deb=$(cached 'libwine_*_i386.deb'); then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      as_root dpkg --add-architecture i386
      apt_update
    fi
    deb=$(download 'libwine_*_i386.deb' libwine:i386 apt-get download libwine:i386)
  fi
  rm -rf "$deps/wine-i386" && mkdir -p "$deps/wine-i386"
  dpkg -x "$deb" "$deps/wine-i386"
  touch "$stamps/wine-i386-images"
}

setup_third_party() {
  local arch=$1
  [ -f "$stamps/third-party-v2-$arch" ] && return
  log "building Boost libraries and GoogleTest for $arch"
  cmake -S "$root/third_party" -B "$deps/build-$arch" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/$arch" \
    -DBOOST_SOURCE_DIR="$deps/src/boost" -DZYDIS_SOURCE_DIR="$deps/src/zydis" \
    -DHEADER_DEPS_DIR="$deps/include" >/dev/null
  cmake --build "$deps/build-$arch" >/dev/null
  cmake --install "$deps/build-$arch" >/dev/null
  touch "$stamps/third-party-v2-$arch"
}

setup_wine_prefix() {
  [ -f "$stamps/wine-prefix-v2" ] && return
  log "creating the Wine prefix"
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  # Headless: top-level windows go to the null display driver.
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  # A crashing program ends at once instead of waiting in the debugger and holding up the tests.
  local aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  "$wine" reg add "$aedebug" /v Auto /d 0 /f </dev/null >/dev/null 2>&1
  "$wine" reg add "$aedebug" /v Debugger /d "" /f </dev/null >/dev/null 2>&1
  "$wineserver" -w
  touch "$stamps/wine-prefix-v2"
}

# The demo runs x86-64 programs only: it needs neither the 32-bit libraries nor
# the 32-bit system DLLs (test data), which take setup's longest minutes.
setup_for_x64() {
  setup_to_build x86_64
  setup_wine_prefix
}

# What building one Windows architecture needs, and nothing to run it.
setup_to_build() {
  setup_packages
  mkdir -p "$stamps"
  setup_header_deps
  setup_boost_sources
  setup_zydis_sources
  setup_third_party "$1"
}

# What building and running the three trees needs.
setup_builds() {
  setup_for_x64
  setup_wine_i386_images
  setup_third_party i686
}

# The emulated machine that runs the 32-bit suite (tools/vm32/): built once
# per machine from Debian's packages and kept in the cache.
setup_guest() {
  install_packages "" "${vm32_packages[@]}"
  as_root "$root/tools/vm32/guest.sh" "$cache/vm32"
}

cmd_setup() {
  setup_builds
  setup_guest
}

presets=(native x64 i686)

cmd_build() {
  for p in "${presets[@]}"; do
    [ -f "$build/$p/build.ninja" ] || cmake --preset "$p" -S "$root" >/dev/null
    log "building $p"
    cmake --build "$build/$p"
  done
}

start_wineserver() {
  mkdir -p "$WINEPREFIX"
  "$wineserver" -p </dev/null >/dev/null 2>&1 || true
  "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
}
stop_wineserver() { "$wineserver" -k >/dev/null 2>&1 || true; }

# The product is the 32-bit build: it cannot run here, so check what it is.
check_product_pe() {
  local exe="$build/i686/bin/ombrix.exe"
  local desc
  desc=$(i686-w64-mingw32-objdump -f "$exe" 2>/dev/null | grep -o 'file format pei-i386' || true)
  local subsystem
  subsystem=$(i686-w64-mingw32-objdump -p "$exe" 2>/dev/null | awk '/^Subsystem/ {print $2}')
  [ -n "$desc" ] && [ "$subsystem" = "00000002" ]
}

# What an author ships: a 32-bit plug-in exports its one function by its plain
# name, as the host looks it up (a __stdcall name is decorated). Checked for the
# sample plug-in (MinGW-w64) and the test plug-in built for the MSVC ABI.
check_plugin_export() {
  local exports
  exports=$(i686-w64-mingw32-objdump -p "$build/i686/bin/$1" 2>/dev/null |
    sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '/^\t\[/ {print $NF}')
  [ "$exports" = "DllGetPluginObject" ]
}

cmd_test() {
  # The guest's packages first (apt takes one at a time), then its disk is
  # built in the background while the trees build: mostly downloads at first.
  setup_packages
  install_packages "" "${vm32_packages[@]}"
  local guest_log="$build/vm32-setup.log"
  mkdir -p "$build"
  as_root "$root/tools/vm32/guest.sh" "$cache/vm32" >"$guest_log" 2>&1 </dev/null &
  local guest_setup=$!
  setup_builds
  cmd_build
  local results="$build/test-results"
  rm -rf "$results" "$build/x64/test-results" && mkdir -p "$results/native" "$results/x64"
  # CTest leaves the failure list of an earlier run behind when all pass.
  rm -f "$build"/{native,x64}/Testing/Temporary/LastTestsFailed.log
  local failed=0 passed=0

  if check_product_pe; then passed=$((passed + 1)); log "ombrix.exe (i686) is a 32-bit GUI PE"
  else failed=$((failed + 1)); log "FAILED: build/i686/bin/ombrix.exe is not a 32-bit GUI PE"; fi
  for dll in sample_plugin.dll msvc_plugin.dll; do
    if check_plugin_export "$dll"; then passed=$((passed + 1)); log "$dll (i686) exports DllGetPluginObject alone"
    else failed=$((failed + 1)); log "FAILED: build/i686/bin/$dll does not export DllGetPluginObject alone"; fi
  done
  # Every fuzz target a few seconds on its seeds and regression inputs: one check each.
  log "fuzz targets, 3 s each"
  local fuzzed clean unclean
  fuzzed=$("$root/tools/fuzz.sh" 3) || true
  printf '%s\n' "$fuzzed" >&2
  clean=$(grep -c ': clean' <<<"$fuzzed" || true)
  unclean=$(grep -c ': FAILED' <<<"$fuzzed" || true)
  [ $((clean + unclean)) -gt 0 ] || { unclean=1; log "FAILED: tools/fuzz.sh reported nothing"; }
  passed=$((passed + clean)); failed=$((failed + unclean))

  log "native tests"
  (cd "$build/native" && GTEST_OUTPUT="xml:$results/native/" ctest --output-on-failure "$@") || true
  log "Windows tests under Wine"
  start_wineserver
  if check_shell_exit_code; then passed=$((passed + 1)); log "./dev.sh wine ombrix.exe without a launcher exits 6"
  else failed=$((failed + 1)); log "FAILED: ./dev.sh wine ombrix.exe without a launcher does not exit 6"; fi
  # The long runs have a command of their own: ./dev.sh soak.
  (cd "$build/x64" && GTEST_OUTPUT="xml:test-results/" ctest --output-on-failure -LE soak "$@") || true
  stop_wineserver
  cp "$build/x64/test-results/"*.xml "$results/x64/" 2>/dev/null || true
  read -r p f < <("$root/tools/test_summary.sh" "$build/native" "$results/native" "$build/x64" "$build/x64/test-results")
  passed=$((passed + p)); failed=$((failed + f))

  log "32-bit tests in the emulated machine (the quick part; ./dev.sh test32 --all runs all)"
  if wait "$guest_setup"; then
    sed 's/^/   /' "$guest_log" >&2
    read -r p f < <(run_guest_tests -L vm32-quick "$@")
  else
    cat "$guest_log" >&2
    log "FAILED: the emulated machine could not be built (see $guest_log)"
    p=0 f=1
  fi
  passed=$((passed + p)); failed=$((failed + f))
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# Runs the i686 tests CTEST_ARGS select (a label, and -R/-E as ctest takes
# them) in one boot of the guest; prints "PASSED FAILED", counting the host's
# exit-code checks made there.
run_guest_tests() {
  local checks checks_passed checks_failed p f
  if [ "$(cd "$build/i686" && ctest -N "$@" | sed -n 's/^Total Tests: //p')" = 0 ]; then
    log "no 32-bit test selected"
    echo "0 0"
    return
  fi
  checks=$(as_root "$root/tools/vm32/run-tests.sh" "$root" "$cache/vm32" "$@") || { echo "0 1"; return; }
  read -r p f < <("$root/tools/test_summary.sh" "$build/i686" "$build/i686/test-results" -- \
    -R "^($(paste -sd'|' "$build/test32/tests.txt"))\$")
  read -r checks_passed checks_failed <<<"$checks"
  echo "$((p + checks_passed)) $((f + checks_failed))"
}

# The 32-bit product run for real, apart from the rest: the quick part of the
# suite that ./dev.sh test runs too, or with --all every i686 test program
# but the soak, which takes a good while longer.
cmd_test32() {
  local selection=(-L vm32-quick)
  if [ "${1:-}" = --all ]; then selection=(-L '^vm32$'); shift; fi
  [ $# -eq 0 ] || { echo "usage: ./dev.sh test32 [--all]" >&2; exit 2; }
  setup_to_build i686
  setup_guest
  [ -f "$build/i686/build.ninja" ] || cmake --preset i686 -S "$root" >/dev/null
  log "building i686"
  cmake --build "$build/i686"
  local passed failed
  read -r passed failed < <(run_guest_tests "${selection[@]}")
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# The libFuzzer targets (fuzz/), SECONDS each (default 60): see tools/fuzz.sh.
cmd_fuzz() {
  setup_builds
  "$root/tools/fuzz.sh" "${1:-60}"
}

# The long runs (CTest label "soak"), apart from ./dev.sh test: a hundred
# whole sessions through one simulator, which must not grow meanwhile.
cmd_soak() {
  setup_builds
  cmd_build
  start_wineserver
  trap stop_wineserver EXIT
  (cd "$build/x64" && ctest --output-on-failure -L soak "$@")
}

# A process that ends itself through a job object (the host does) reports its
# exit code to a Windows parent, but wine64 hands the shell 0 for it: the relay
# in between makes the shell see what a launcher sees.
cmd_wine() {
  [ $# -ge 1 ] || { echo "usage: ./dev.sh wine PROGRAM [ARGS...]" >&2; exit 2; }
  local prog=$1; shift
  [ -f "$prog" ] || prog="$build/x64/bin/$prog"
  local relay="$build/x64/bin/exit-code-relay.exe"
  if [ -f "$relay" ] && [[ "$prog" == *.exe ]]; then
    "$wine" "$relay" "Z:$(readlink -f "$prog" | tr '/' '\\')" "$@"
  else
    "$wine" "$prog" "$@"
  fi
}

# The README's way of running the host, with no launcher to bind to: the
# shell must see the launcher's exit code for a failed binding, 6.
check_shell_exit_code() {
  local code=0
  "$root/dev.sh" wine ombrix.exe --plugin-id=7 </dev/null >/dev/null 2>&1 || code=$?
  [ "$code" -eq 6 ]
}

# What the demo runs, and nothing else: the x86-64 host, its proxy/stub DLL, the
# simulator, the sample plug-in, the crash-reporting stand-in and the relay.
demo_targets=(ombrix ombrixPS launcher-sim sample_plugin monitor_client_standin exit-code-relay)

cmd_demo() {
  setup_for_x64
  [ -f "$build/x64/build.ninja" ] || cmake --preset x64 -S "$root" >/dev/null
  log "building what the demo runs"
  cmake --build "$build/x64" --target "${demo_targets[@]}"
  start_wineserver
  trap stop_wineserver EXIT
  "$root/tools/demo.sh" "$build/x64/bin"
}

# Each benchmark program measures its figures against their baselines in the
# same run and leaves them in build/bench/<program>.figures; bench_results puts
# them into one table, build/bench/results.md and results.json.
cmd_bench() {
  local benchmarks=(event_forwarding_bench host_start_bench session_bench shared_log_bench guarded_load_bench hook_placement_bench)
  setup_builds
  cmd_build
  local out="$build/bench" b
  mkdir -p "$out"
  # A program that fails this time must not leave the figures of an earlier run.
  rm -f "$out"/*.figures
  local folder
  folder="Z:$(printf '%s' "$out" | tr '/' '\\')"
  start_wineserver
  trap stop_wineserver EXIT
  for b in "${benchmarks[@]}"; do
    log "$b"
    "$wine" "$build/x64/bin/$b.exe" "$folder" || log "FAILED: $b"
  done
  "$wine" "$build/x64/bin/bench_results.exe" "$folder" "${benchmarks[@]}"
  log "results in build/bench/results.md and build/bench/results.json"
}

# The release of the 32-bit product: build/package/ombrix-<version>-win32.zip,
# its symbols, the SDK and SHA256SUMS, packed twice to prove them reproducible.
cmd_package() {
  setup_builds
  [ -f "$build/i686/build.ninja" ] || cmake --preset i686 -S "$root" >/dev/null
  log "building the 32-bit product"
  cmake --build "$build/i686" --target ombrix ombrixPS
  "$root/tools/package/package.sh" "$root" "$build/i686/bin" "$build/package"
}

case "${1:-}" in
  setup) shift; cmd_setup "$@" ;;
  build) shift; setup_builds; cmd_build "$@" ;;
  test) shift; cmd_test "$@" ;;
  wine) shift; cmd_wine "$@" ;;
  demo) shift; cmd_demo "$@" ;;
  bench) shift; cmd_bench "$@" ;;
  soak) shift; cmd_soak "$@" ;;
  test32) shift; cmd_test32 "$@" ;;
  package) shift; cmd_package "$@" ;;
  fuzz) shift; cmd_fuzz "$@" ;;
  *) echo "usage: ./dev.sh setup|build|test [ctest args]|wine PROGRAM [ARGS]|demo|bench|fuzz [SECONDS]|soak [ctest args]|test32 [--all]|package" >&2; exit 2 ;;
esac
