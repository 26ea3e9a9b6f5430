#!/usr/bin/env bash
# The application path of a program in a folder deeper than MAX_PATH comes back
# whole. Wine's CreateProcess cannot start such a program (error 2 or 3), but
# wine64 started from Linux can, so this check runs from the shell.
# usage: long_application_path_test.sh WINE_RUNNER ENV_PROBE_EXE SCRATCH_DIR
set -eu
runner=$1 probe=$2 scratch=$3
deep="$scratch/long-path"
for letter in a b c d e f; do deep="$deep/$(printf "$letter%.0s" $(seq 50))"; done
rm -rf "$scratch/long-path" && mkdir -p "$deep" && cp "$probe" "$deep/env_probe.exe"
reported=$("$runner" "$deep/env_probe.exe" app-path)
expected="Z:$(printf '%s' "$deep/env_probe.exe" | tr '/' '\\')"
rm -rf "$scratch/long-path"
if [ "$reported" != "$expected" ] || [ ${#reported} -le 260 ]; then
  printf 'expected %s (%d characters)\n     got %s\n' "$expected" ${#expected} "$reported" >&2
  exit 1
fi
echo "application path of ${#reported} characters reported whole"
