#!/usr/bin/env bash
# Builds the Windows Installer package of one Windows build tree with wixl
# (zentrova.wxs), then adds with msibuild what wixl cannot write.
#
#   packaging/windows/build-msi.sh BUILD_DIR OUT_DIR [VERSION]
#
# writes OUT_DIR/zentrova-VERSION-ARCH.msi (ARCH x64 or x86) and prints its
# path. The architecture comes from the build tree; the version is the build's
# project version unless another is given (the tests build an older one).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
(($# == 2 || $# == 3)) || { echo "usage: $0 BUILD_DIR OUT_DIR [VERSION]" >&2; exit 64; }
build=$1
cache=$build/CMakeCache.txt
[[ -f $cache ]] || { echo "$0: $build is not a build tree" >&2; exit 2; }
version=${3:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache")}
case $(sed -n 's/^ZV_MINGW_ARCH:[A-Z]*=//p' "$cache") in
  x86_64) arch=x64 ;;
  i686) arch=x86 ;;
  *) echo "$0: $build is not a Windows build of x86_64 or i686" >&2; exit 2 ;;
esac

stage=$(mktemp -d "${TMPDIR:-/tmp}/zv-msi.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# The files as the zip has them: installed, and stripped of debugging information.
cmake --install "$build" --component windows --prefix "$stage" --strip >/dev/null
# wixl looks for the files in its working folder.
out=$(realpath "$2")/zentrova-$version-$arch.msi
(cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -o "$out" "$here/zentrova.wxs")

# What wixl has no words for, written into the package's tables:
# - A component's condition. Each setting is written only when its property
#   was given. HELPDIR only when no registration recorded one before (the
#   first registration's stays, ZV_HELPDIR finds it), or when this package
#   already wrote it (a repair, a removal, an upgrade taking it over). The
#   ProgIDs of the 64-bit view only under Wine (see zentrova.wxs).
# - Attributes: the settings are permanent (16: a removal or an upgrade leaves
#   them, see README); pagora.ini is never overwritten once there (128). 256
#   marks a 64-bit component, 4 one whose key path is a registry value.
# - "Programmable", a key without values ("*": made at install, removed with
#   its component).
# - The old version is removed after the new one is installed, so that the
#   components both share (all of them: their GUIDs stay) keep their files,
#   among them an edited pagora.ini.
bits=$([[ $arch == x64 ]] && echo 256 || echo 0)
clsid='{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}'
queries=(
  "UPDATE Component SET Condition = 'HTTP1' WHERE Component = 'SettingHttp1'"
  "UPDATE Component SET Condition = 'HTTP2' WHERE Component = 'SettingHttp2'"
  "UPDATE Component SET Condition = 'TRACEFILE' WHERE Component = 'SettingTraceFile'"
  "UPDATE Component SET Condition = 'NOT ZV_HELPDIR OR Installed OR WIX_UPGRADE_DETECTED' WHERE Component = 'HelpDir'"
  "UPDATE Component SET Condition = 'ZV_WINE' WHERE Component = 'ProgIdsWine'"
  "UPDATE Component SET Attributes = $((bits + 4 + 16)) WHERE Component = 'SettingHttp1' OR Component = 'SettingHttp2' OR Component = 'SettingTraceFile'"
  "UPDATE Component SET Attributes = $((bits + 128)) WHERE Component = 'PagoraIni'"
  "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('Programmable', 0, 'CLSID\\$clsid\\Programmable', '*', 'Server')"
  "UPDATE InstallExecuteSequence SET Sequence = 6700 WHERE Action = 'RemoveExistingProducts'"
)
for query in "${queries[@]}"; do
  msibuild "$out" -q "$query"
done
# libgsf leaves its scratch files beside the package.
rm -f "$(dirname "$out")"/.gsf-save-*
echo "$out"
