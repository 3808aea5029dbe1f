#!/usr/bin/env bash
# Leaves a sample product in a Wine prefix the way its installer would:
# "Corvane Notes" 2.4.1 by Corvane, installed for 32-bit Windows (or, with
# ARCH x86_64, for 64-bit Windows, beside the 64-bit build of the uninstaller).
#
#   tools/stage-product.sh PREFIX BIN_DIR [ARCH]     ARCH: i686 (default), x86_64
#
#   - the installation folder C:\Program Files (x86)\Corvane\Corvane Notes\
#     (C:\Program Files\... for x86_64) with a few files and subfolders,
#     Uninstall.exe among them when BIN_DIR holds one;
#   - its key HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\
#     CorvaneNotes in the 32-bit registry view (the 64-bit one for x86_64);
#   - a Start-menu folder "Corvane Notes" in the user's Programs folder with
#     a shortcut in it, and "Corvane Notes.lnk" on the public desktop;
#   - the manifest cvUninstall.dat in the installation folder (whole-folder
#     form, with the two shortcuts in its shortcut list).
#
# PREFIX is created by wine-run.sh when missing. BIN_DIR holds cvpack.exe.
# Progress goes to stderr. Stdout carries the staged places as shell
# assignments, for `eval "$(tools/stage-product.sh ...)"`:
#   CV_PRODUCT CV_UNINSTALL_KEY (the full key) CV_REG_VIEW (/reg:32 or
#   /reg:64, the view it is in) CV_INSTALL_DIR
#   (Windows path, trailing backslash) CV_INSTALL_DIR_UNIX CV_STARTMENU_DIR
#   CV_STARTMENU_LNK CV_DESKTOP_LNK CV_MANIFEST
set -euo pipefail

[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: tools/stage-product.sh PREFIX BIN_DIR [ARCH]" >&2; exit 2; }
prefix=$1 bin=$2 arch=${3:-i686}
case "$arch" in
  i686) cmd='C:\windows\syswow64\cmd.exe' view=/reg:32 ;;
  x86_64) cmd='C:\windows\system32\cmd.exe' view=/reg:64 ;;
  *) echo "stage-product: ARCH must be i686 or x86_64" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
cvpack=$bin/cvpack.exe
[ -f "$cvpack" ] || { echo "stage-product: $cvpack is not built" >&2; exit 1; }

product="Corvane Notes" version="2.4.1" publisher="Corvane" keyname="CorvaneNotes"

# A Windows program in the prefix; its output without carriage returns.
wr() { "$here/wine-run.sh" --arch "$arch" --prefix "$prefix" "$@" | tr -d '\r'; }
say() { echo "stage: $*" >&2; }

# The folders as the uninstaller sees them (a cmd.exe of its bitness, so that
# %ProgramFiles% is the x86 one for a 32-bit uninstaller).
IFS='|' read -r programfiles appdata public < <(wr "$cmd" /c 'echo %ProgramFiles%^|%APPDATA%^|%PUBLIC%')
for v in "$programfiles" "$appdata" "$public"; do
  case "$v" in
    [A-Za-z]:\\*) ;;
    *) echo "stage-product: unexpected folder from the prefix: '$v'" >&2; exit 1 ;;
  esac
done
install="$programfiles\\Corvane\\$product\\"
startmenu="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\$product"
startlnk="$startmenu\\$product.lnk"
desklnk="$public\\Desktop\\$product.lnk"
manifest="${install}cvUninstall.dat"
key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$keyname"
installunix=$(wr winepath.exe -u "$install")
installunix=${installunix%/}

say "installation folder $install"
mkdir -p "$installunix"/{plugins/themes,lang}
printf 'MZ Corvane Notes %s (placeholder program)\n' "$version" >"$installunix/Notes.exe"
printf 'Corvane Notes %s\r\nA small notes editor by %s.\r\n' "$version" "$publisher" >"$installunix/readme.txt"
printf 'Copyright (c) %s. All rights reserved.\r\n' "$publisher" >"$installunix/license.txt"
printf 'MZ spell checker plug-in\n' >"$installunix/plugins/spell.dll"
printf 'MZ PDF export plug-in\n' >"$installunix/plugins/export-pdf.dll"
printf '[theme]\r\nname=Dark\r\n' >"$installunix/plugins/themes/dark.ini"
printf '[lang]\r\nname=English\r\n' >"$installunix/lang/en.ini"
printf '[lang]\r\nname=Deutsch\r\n' >"$installunix/lang/de.ini"
if [ -f "$bin/Uninstall.exe" ]; then
  cp "$bin/Uninstall.exe" "$installunix/Uninstall.exe"
else
  say "no Uninstall.exe in $bin yet: UninstallString names where it will go"
fi

say "uninstall key $key ($view)"
# reg.exe's chatter is shown only when it fails.
reg_sz() {
  local out
  out=$(wr reg.exe add "$key" /v "$1" /t REG_SZ /d "$2" "$view" /f) || { echo "$out" >&2; return 1; }
}
reg_sz DisplayName "$product"
reg_sz DisplayVersion "$version"
reg_sz Publisher "$publisher"
reg_sz UninstallString "\"${install}Uninstall.exe\""
reg_sz InstallLocation "$install"

say "shortcuts"
wr "$cvpack" shortcut "$startlnk" "${install}Notes.exe" --workdir "$install" >&2
wr "$cvpack" shortcut "$desklnk" "${install}Notes.exe" --workdir "$install" >&2

say "manifest"
wr "$cvpack" manifest --out "$manifest" --key "$keyname" --name "$product" --startmenu "$product" \
  --installdir "$install" --shortcut "$startlnk" --shortcut "$desklnk" >&2

for v in CV_PRODUCT="$product" CV_UNINSTALL_KEY="$key" CV_REG_VIEW="$view" CV_INSTALL_DIR="$install" \
         CV_INSTALL_DIR_UNIX="$installunix" CV_STARTMENU_DIR="$startmenu" CV_STARTMENU_LNK="$startlnk" \
         CV_DESKTOP_LNK="$desklnk" CV_MANIFEST="$manifest"; do
  printf '%s=%q\n' "${v%%=*}" "${v#*=}"
done
