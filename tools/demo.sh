#!/usr/bin/env bash
# The demo: a sample product, installed into a fresh Wine prefix of its own,
# and what the uninstaller will find there.
#
#   tools/demo.sh [ARCH]        (make demo [ARCH=...])
#
# It uses the 32-bit build (the product) where the host runs 32-bit code and
# the 64-bit build otherwise (tools/host-arches.sh), and says which; ARCH
# chooses. The build is made first. The prefix is build/ARCH/demo/prefix,
# made anew on every run; its wineserver is stopped at the end, whatever the
# outcome.
set -euo pipefail

[ $# -le 1 ] || { echo "usage: tools/demo.sh [i686|x86_64]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
{ read -r host; read -r why; } < <("$here/host-arches.sh")
if [ $# -eq 1 ]; then
  arch=$1
  echo "demo: the $arch build (asked for)"
elif [[ " $host " == *" i686 "* ]]; then
  arch=i686
  echo "demo: the 32-bit build (i686), the product as shipped"
else
  arch=x86_64
  echo "demo: the 64-bit build (x86_64); $why"
fi
case "$arch" in i686|x86_64) ;; *) echo "demo: ARCH must be i686 or x86_64" >&2; exit 2 ;; esac
"$here/build.sh" "$arch"

build=$(cd "$here/.." && pwd)/build/$arch
bin=$build/bin
demo=$build/demo
prefix=$demo/prefix
[ -f "$bin/cvpack.exe" ] || { echo "demo: $bin/cvpack.exe is not built" >&2; exit 1; }

# A wineserver left by an interrupted run goes before its prefix does.
if [ -d "$prefix" ]; then "$here/wine-run.sh" --arch "$arch" --prefix "$prefix" --shutdown; fi
rm -rf "$demo"
trap '"$here/wine-run.sh" --arch "$arch" --prefix "$prefix" --shutdown' EXIT

wr() { "$here/wine-run.sh" --arch "$arch" --prefix "$prefix" "$@" | tr -d '\r'; }
section() { printf '\n== %s\n' "$*"; }

section "Staging the product in $prefix (a new prefix takes a few seconds)"
staged=$("$here/stage-product.sh" "$prefix" "$bin" "$arch")
eval "$staged"

section "Installation folder $CV_INSTALL_DIR"
(cd "$CV_INSTALL_DIR_UNIX" && find . -mindepth 1 | LC_ALL=C sort -f | while read -r p; do
  p=${p#./}
  if [ -d "$p" ]; then
    printf '  %s\\\n' "${p//\//\\}"
  else
    printf '  %-36s %6s bytes\n' "${p//\//\\}" "$(stat -c %s "$p")"
  fi
done)

section "Registry ($CV_REG_VIEW view)"
wr reg.exe query "$CV_UNINSTALL_KEY" "$CV_REG_VIEW" | sed '/^$/d'

section "Shortcuts"
for lnk in "$CV_STARTMENU_LNK" "$CV_DESKTOP_LNK"; do
  unix=$(wr winepath.exe -u "$lnk")
  [ -f "$unix" ] || { echo "demo: $lnk is missing" >&2; exit 1; }
  printf '  %s (%s bytes)\n' "$lnk" "$(stat -c %s "$unix")"
done

section "Manifest"
wr "$bin/cvpack.exe" show "$CV_MANIFEST"

section "Staged. The uninstaller itself is not part of the demo yet."
