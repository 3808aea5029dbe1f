#!/usr/bin/env bash
# The demo: a sample product, installed into a fresh Wine prefix of its own,
# and what the uninstaller will find there.
#
#   tools/demo.sh BUILD_DIR        (make demo: tools/demo.sh build)
#
# The prefix is BUILD_DIR/demo/prefix, made anew on every run; its
# wineserver is stopped at the end, whatever the outcome.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: tools/demo.sh BUILD_DIR" >&2; exit 2; }
build=$1
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/bin
demo=$build/demo
prefix=$demo/prefix
[ -f "$bin/cvpack.exe" ] || { echo "demo: $bin/cvpack.exe is not built (make build)" >&2; exit 1; }

# A wineserver left by an interrupted run goes before its prefix does.
if [ -d "$prefix" ]; then "$here/wine-run.sh" --prefix "$prefix" --shutdown; fi
rm -rf "$demo"
trap '"$here/wine-run.sh" --prefix "$prefix" --shutdown' EXIT

wr() { "$here/wine-run.sh" --prefix "$prefix" "$@" | tr -d '\r'; }
section() { printf '\n== %s\n' "$*"; }

section "Staging the product in $prefix (a new prefix takes a few seconds)"
staged=$("$here/stage-product.sh" "$prefix" "$bin")
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

section "Registry (32-bit view)"
wr reg.exe query "$CV_UNINSTALL_KEY" /reg:32 | sed '/^$/d'

section "Shortcuts"
for lnk in "$CV_STARTMENU_LNK" "$CV_DESKTOP_LNK"; do
  unix=$(wr winepath.exe -u "$lnk")
  [ -f "$unix" ] || { echo "demo: $lnk is missing" >&2; exit 1; }
  printf '  %s (%s bytes)\n' "$lnk" "$(stat -c %s "$unix")"
done

section "Manifest"
wr "$bin/cvpack.exe" show "$CV_MANIFEST"

section "Staged. The uninstaller itself is not part of the demo yet."
