#!/usr/bin/env bash
# Runs a Windows program under Wine, in a prefix owned by the build tree.
#
#   wine-run.sh [--arch i686|x86_64] --prefix DIR [--display] PROGRAM [ARGS...]
#   wine-run.sh --prefix DIR --shutdown
#
# The prefix (64-bit, so 32-bit programs run under WOW64) is created once
# per build tree. --arch names the bitness of the programs the prefix runs:
# x86_64 (the default) starts them with Wine's 64-bit loader directly, so
# nothing here ever starts a 32-bit Linux program, which some hosts cannot
# run at all; i686 goes through the `wine` front end, which takes the 32-bit
# loader. A wineserver is kept running for the whole test run, so a
# program starts in tens of milliseconds. Programs get a private Xvfb
# display, started on first use: Wine's desktop process serves every program
# of a wineserver session and keeps the display of the first program that
# needed it, so a session must not start without one. CV_DISPLAY=0 (only for
# a session that shows no window at all) leaves it out. WINEDEBUG is
# -all unless CV_WINEDEBUG says otherwise. --shutdown stops the wineserver
# and the display. The exit code is the program's own.
set -euo pipefail

prefix="" display=${CV_DISPLAY:-1} shutdown=0 arch=x86_64
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    --display) display=1; shift ;;
    --shutdown) shutdown=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "wine-run.sh: --prefix is required" >&2; exit 2; }
case "$arch" in
  x86_64) WINE=/usr/lib/wine/wine64; export WINELOADER=$WINE ;;
  i686) WINE=wine ;;
  *) echo "wine-run.sh: --arch must be i686 or x86_64" >&2; exit 2 ;;
esac
prefix=$(realpath -m "$prefix")
state=$prefix.state
mkdir -p "$state"

export WINEPREFIX=$prefix WINEARCH=win64
export WINEDEBUG=${CV_WINEDEBUG:--all}
# No Mono or Gecko install prompts; no menu entries or desktop files on the
# host for the shortcuts that tests create; no host browser for the web
# pages that programs open (tests register their own URL handler).
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winebrowser.exe=d"
# Wine links the profile's Desktop, Documents... to folders in $HOME; give it
# a home of its own so that nothing a test deletes can reach the real one.
export HOME=$state/home
mkdir -p "$HOME"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_DESKTOP_DIR

xvfb_stop() {
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/xvfb.display"
  fi
}

if [ "$shutdown" = 1 ]; then
  [ -d "$prefix" ] && wineserver -k 2>/dev/null || true
  xvfb_stop
  exit 0
fi

# Creating the prefix and starting the display happen once, under a lock, so
# that tests run in parallel share them. Long-lived children (wineserver,
# Xvfb) must not inherit the lock's descriptor.
exec 9>"$state/lock"
flock 9
if [ ! -f "$state/ready" ]; then
  rm -rf "$prefix"
  unset DISPLAY
  "$WINE" wineboot -i >"$state/wineboot.log" 2>&1 9>&-
  # Font faces the program asks for, mapped to installed fonts; written in
  # both registry views (the 32-bit view is the Wow6432Node key, written by
  # the 64-bit regedit, so no 32-bit program is needed for it).
  subst=('"Microsoft Sans Serif"="Liberation Sans"'
    '"MS Sans Serif"="Liberation Sans"'
    '"SimSun"="WenQuanYi Micro Hei"'
    '"宋体"="WenQuanYi Micro Hei"'
    '"Microsoft YaHei"="WenQuanYi Micro Hei"'
    '"微软雅黑"="WenQuanYi Micro Hei"')
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' "${subst[@]}" '' \
    '[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' "${subst[@]}" '' |
    iconv -f UTF-8 -t UTF-16 >"$state/fonts.reg"
  reg_file=$state/fonts.reg  # as a Windows path: drive Z: is the Unix root
  "$WINE" regedit /S "Z:${reg_file//\//\\}" >>"$state/wineboot.log" 2>&1 9>&-
  wineserver -w
  # Wine links the profile's Desktop, Documents, Music... all to the home
  # folder; real folders of their own make the profile behave like Windows.
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link"; mkdir "$link"; fi
  done
  touch "$state/ready"
fi
if [ "$display" = 1 ]; then
  if [ ! -f "$state/xvfb.pid" ] || ! kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    rm -f "$state/xvfb.display"
    Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp 8>"$state/xvfb.display" >/dev/null 2>&1 9>&- &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 100); do [ -s "$state/xvfb.display" ] && break; sleep 0.05; done
  fi
  export DISPLAY=:$(cat "$state/xvfb.display")
else
  unset DISPLAY
fi
# A wineserver that stays for the whole run (it exits at once when one is
# running already).
wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
flock -u 9
exec 9>&-

# Wine leaves helper processes behind (services, explorer, winedevice) that
# would inherit our standard output; a caller reading it through a pipe, as
# CTest does, would then wait for them forever. The program writes to a file
# instead, which is copied out once it has ended.
out=$(mktemp "$state/out.XXXXXX")
trap 'rm -f "$out"' EXIT
status=0
"$WINE" "$@" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
exit $status
