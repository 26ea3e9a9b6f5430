#!/usr/bin/env bash
# package.sh ROOT I686_BIN OUT: the release of the 32-bit product, as a
# launcher team receives it, in OUT:
#   ombrix-<version>-win32.zip          ombrix.exe, ombrixPS.dll, README.txt
#   ombrix-<version>-win32-symbols.zip  the .debug files of exactly those binaries
#   ombrix-<version>-sdk.zip            the SDK header, the sample plug-in's sources, README.md
#   SHA256SUMS
# The archives are reproducible: every file carries the commit's time, they
# are stored in one fixed order, and no extra attributes are written. The
# script packs twice and fails unless both runs give the same bytes.
set -euo pipefail
root=$1 bin=$2 out=$3
version=$(tr -d '[:space:]' < "$bin/../version.txt")
epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
here=$(dirname "$(readlink -f "$0")")

# stage DIR NAME SOURCE...: copies each SOURCE (a file, or TARGET=FILE) under DIR/NAME.
stage() {
  local dir=$1/$2 item target source
  shift 2
  for item in "$@"; do
    if [[ "$item" == *=* ]]; then target=${item%%=*}; source=${item#*=}; else target=$(basename "$item"); source=$item; fi
    mkdir -p "$dir/$(dirname "$target")"
    cp "$source" "$dir/$target"
  done
}

# pack DIR NAME ZIP: the tree DIR/NAME into ZIP, reproducibly.
pack() {
  local dir=$1 name=$2 zip=$3
  find "$dir/$name" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  find "$dir/$name" -exec touch -h -d "@$epoch" {} +
  rm -f "$zip"
  (cd "$dir" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -@ "$zip")
}

build_package() {
  local target=$1 staging
  staging=$(mktemp -d)
  mkdir -p "$target"
  local product="ombrix-$version-win32" symbols="ombrix-$version-win32-symbols" sdk="ombrix-$version-sdk"
  stage "$staging" "$product" "$bin/ombrix.exe" "$bin/ombrixPS.dll" "README.txt=$here/README-launcher.txt"
  stage "$staging" "$symbols" "$bin/ombrix.exe.debug" "$bin/ombrixPS.dll.debug"
  stage "$staging" "$sdk" "README.md=$here/README-sdk.md" "include/hlx_plugins.h=$root/include/hlx_plugins.h" \
    "examples/sample_plugin/README.md=$root/examples/sample_plugin/README.md" \
    "examples/sample_plugin/sample_plugin.cpp=$root/examples/sample_plugin/sample_plugin.cpp" \
    "examples/sample_plugin/sample_plugin.def=$root/examples/sample_plugin/sample_plugin.def"
  for name in "$product" "$symbols" "$sdk"; do
    pack "$staging" "$name" "$target/$name.zip"
  done
  (cd "$target" && sha256sum "$product.zip" "$symbols.zip" "$sdk.zip" > SHA256SUMS)
  rm -rf "$staging"
}

rm -rf "$out"
build_package "$out"
again=$(mktemp -d)
trap 'rm -rf "$again"' EXIT
build_package "$again/package"
if ! diff -r "$out" "$again/package" >/dev/null; then
  echo "package: two runs gave different archives" >&2
  exit 1
fi
(cd "$out" && ls -l --time-style=+ *.zip SHA256SUMS | awk '{print "  " $NF " (" $5 " bytes)"}')
echo "package: ombrix $version, reproducible (two runs, identical bytes), in $out"
