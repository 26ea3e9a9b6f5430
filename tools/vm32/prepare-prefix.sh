# Guest job (sh, as root) of the boot that writes the image: a WoW64 Wine
# prefix set up as ./dev.sh setup sets up the host's, so that every later boot
# starts Wine warm.
export WINEPREFIX=/root/.wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
set -e
uptime_s() { cut -d' ' -f1 /proc/uptime; }
start=$(uptime_s)
rm -rf "$WINEPREFIX"
wine wineboot -i </dev/null >/dev/null 2>&1 || true
# Headless: top-level windows go to the null display driver.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
# A crashing program ends at once instead of waiting in the debugger.
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
wine reg add "$aedebug" /v Auto /d 0 /f </dev/null >/dev/null 2>&1
wine reg add "$aedebug" /v Debugger /d "" /f </dev/null >/dev/null 2>&1
wineserver -w
echo "prefix: $(du -sh "$WINEPREFIX" | cut -f1) in $(awk -v a="$(uptime_s)" -v b="$start" 'BEGIN { printf "%.0f", a - b }') s"
wine --version
