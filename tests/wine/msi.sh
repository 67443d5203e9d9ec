#!/usr/bin/env bash
# The Windows Installer packages under Wine, as an administrator uses them, in
# a 64-bit prefix of their own: an older 64-bit package upgraded to this
# version, the 32-bit one beside it, sends through the installed sample script
# from each bitness's script host and through Pagora.exe with the gateway
# given as a property (HTTP1=) and nothing under HKCU, then both removed. The
# registry after each step is compared with what regsvr32 writes in a second
# prefix (a copy of the first as booted).
#
#   tests/wine/msi.sh --win64 BUILD_DIR --win32 BUILD_DIR --sandbox sms-sandbox [--keep]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
win64= win32= sandbox= keep=
while (($#)); do
  case $1 in
    --win64) win64=$2; shift 2 ;;
    --win32) win32=$2; shift 2 ;;
    --sandbox) sandbox=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 --win64 BUILD_DIR --win32 BUILD_DIR --sandbox sms-sandbox [--keep]" >&2
       exit 64 ;;
  esac
done
for tool in wixl msibuild msiinfo; do
  command -v $tool >/dev/null || { echo "$0: $tool is not installed (./run deps)" >&2; exit 2; }
done
source "$here/common.sh" msi
[[ -x $wine64 && -x $wine32 ]] || { echo "$0: needs wine64 and wine32" >&2; exit 2; }
[[ -x $sandbox ]] || { echo "$0: no sms-sandbox at '$sandbox'" >&2; exit 2; }

A=$work/installed B=$work/registered
stop_wine() {
  WINEPREFIX=$A wineserver -k 2>/dev/null || true
  WINEPREFIX=$B wineserver -k 2>/dev/null || true
}

# This version's packages and an older 64-bit one, and what they hold.
mkdir -p "$work/old"
x64=$(bash "$here/../../packaging/windows/build-msi.sh" "$win64" "$work")
x86=$(bash "$here/../../packaging/windows/build-msi.sh" "$win32" "$work")
old=$(bash "$here/../../packaging/windows/build-msi.sh" "$win64" "$work/old" 0.0.1)
for package in "$x64:x64" "$x86:Intel"; do
  msi=${package%:*} info=$(msiinfo suminfo "${package%:*}")
  [[ $info == *"Template: ${package##*:};1033"* ]] || fail "$msi: not a ${package##*:} package"
  # Nothing of the kit runs while installing, and the old version goes last.
  [[ $(msiinfo tables "$msi") != *SelfReg* ]] || fail "$msi: self-registration"
  (($(msiinfo export "$msi" CustomAction | wc -l) == 3)) || fail "$msi: custom actions"
  [[ $(msiinfo export "$msi" InstallExecuteSequence | tr -d '\r') == *$'\nRemoveExistingProducts\t\t6700\n'* ]] ||
    fail "$msi: the old version is not removed after the new one is installed"
  [[ $(msiinfo export "$msi" File | cut -f3 | sed 1,3d | sort | tr '\n' ' ') == \
     "Pagora.exe README-Windows.txt ZentrovaCOM.dll ZentrovaCOM.tlb pagora.ini send.js send.ps1 send.vbs " ]] ||
    fail "$msi: files $(msiinfo export "$msi" File | cut -f3 | sed 1,3d | tr '\n' ' ')"
done
((failed)) || ok "packages: tables and summary information"

start_sandbox gateway --http 127.0.0.1:0
gateway=${listeners[0]}

# One boot for both prefixes: the second is a copy made while no server runs.
boot=$SECONDS
WINEPREFIX=$A timeout 180 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
WINEPREFIX=$A wineserver -w
cp -al "$A" "$B"
for hive in "$B"/*.reg; do cp --remove-destination "$A/${hive##*/}" "$hive"; done
echo "wine prefixes ready in $((SECONDS - boot)) s"
WINEPREFIX=$A wineserver -p
WINEPREFIX=$B wineserver -p

kit64='C:\Program Files\Zentrova\SMS Kit' kit32='C:\Program Files (x86)\Zentrova\SMS Kit'
dir64="$A/drive_c/Program Files/Zentrova/SMS Kit" dir32="$A/drive_c/Program Files (x86)/Zentrova/SMS Kit"
on() { local prefix=$1; shift; WINEPREFIX=$prefix timeout 120 "$@"; }

# The automation server's keys in a prefix, one line per value (msi_registry.py).
snapshot() {
  on "$1" "$wine64" reg export 'HKLM\Software\Classes' "$(winpath "$work/$2.reg")" /y >/dev/null
  python3 "$here/msi_registry.py" "$work/$2.reg" >"$work/$2.keys"
}
same_keys() {  # label, snapshot, reference snapshot
  if diff -u "$work/$3.keys" "$work/$2.keys" >"$work/$2.diff"; then ok "$1"
  else fail "$1: the registry differs from regsvr32's (- regsvr32, + package):"; cat "$work/$2.diff"; fi
}
msiexec() {  # label, log name, msiexec arguments: silently, with the full log
  local label=$1 log=$work/$2.log status=0; shift 2
  on "$A" "$wine64" msiexec "$@" /qn /l*v "$(winpath "$log")" || status=$?
  ((status == 0)) || fail "$label: msiexec exited $status (log: $log)"
}
send() {  # label, wine loader, script host, kit folder, number
  local out
  out=$(on "$A" "$2" "$3" //nologo "$4\\send.vbs" "$5" "$1" 2>&1 | tr -d '\r') || true
  [[ $out == Sent. ]] && ok "$1" || fail "$1: $out"
  sent+=("$1")
}
settings() {  # the values under one view's settings key, "NAME=VALUE;" each
  on "$A" "$wine64" reg query "$1" 2>/dev/null | tr -d '\r' |
    awk '$2 ~ /^REG_/ { printf "%s=%s;", $1, $3 }'
}
sent=()

# The reference: regsvr32 of each bitness from where the packages install.
mkdir -p "$B/drive_c/Program Files/Zentrova/SMS Kit" "$B/drive_c/Program Files (x86)/Zentrova/SMS Kit"
cp "$win64/com/ZentrovaCOM.dll" "$B/drive_c/Program Files/Zentrova/SMS Kit/"
cp "$win32/com/ZentrovaCOM.dll" "$B/drive_c/Program Files (x86)/Zentrova/SMS Kit/"
on "$B" "$wine64" 'C:\windows\system32\regsvr32.exe' /s "$kit64\\ZentrovaCOM.dll" || fail "regsvr32 64-bit"
snapshot "$B" ref64
on "$B" "$wine32" 'C:\windows\syswow64\regsvr32.exe' /s "$kit32\\ZentrovaCOM.dll" || fail "regsvr32 32-bit"
snapshot "$B" refboth
WINEPREFIX=$B wineserver -k

# The older 64-bit package, then its pagora.ini edited, then this version over it.
msiexec "install $(basename "$old")" old /i "$(winpath "$old")" HTTP1="$gateway" TRACEFILE='C:\trace64.log'
echo '; edited' >>"$dir64/pagora.ini"
msiexec "upgrade" x64 /i "$(winpath "$x64")"
grep -q '^; edited' "$dir64/pagora.ini" || fail "the upgrade overwrote the edited pagora.ini"
on "$A" "$wine64" reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
  "$(winpath "$work/products.reg")" /y >/dev/null
versions=$(iconv -f UTF-16 -t UTF-8 "$work/products.reg" | tr -d '\r' |
  awk -F'"' '/"DisplayName"="Zentrova SMS Kit/ { name = $4 } /"DisplayVersion"=/ && name { print name " " $4; name = "" }')
[[ $versions == "Zentrova SMS Kit (64-bit) $(basename "$x64" -x64.msi | sed 's/^zentrova-//')" ]] ||
  fail "installed after the upgrade: ${versions:-nothing}"
snapshot "$A" upgraded
same_keys "upgrade from 0.0.1: the 64-bit registration, pagora.ini kept" upgraded ref64

msiexec "install x86" x86 /i "$(winpath "$x86")" HTTP1="$gateway" HTTP2=127.0.0.1:1
snapshot "$A" both
same_keys "both packages: the registration of both bitnesses" both refboth
# Each view holds the settings given to its package, and only those.
got=$(settings 'HKLM\Software\Zentrova\SMS\3.0\Settings')
[[ $got == "HTTP1=$gateway;TraceFile=C:\\trace64.log;" ]] || fail "64-bit settings: $got"
got=$(settings 'HKLM\Software\Wow6432Node\Zentrova\SMS\3.0\Settings')
[[ $got == "HTTP1=$gateway;HTTP2=127.0.0.1:1;" ]] || fail "32-bit settings: $got"

# Sends with the gateway from HKLM alone: nothing under HKCU names it.
if on "$A" "$wine64" reg query 'HKCU\Software\Zentrova' >/dev/null 2>&1; then
  fail "HKCU holds Zentrova settings"
fi
send "msi 64-bit" "$wine64" 'C:\windows\system32\cscript.exe' "$kit64" 0412345300
send "msi 32-bit" "$wine32" 'C:\windows\syswow64\cscript.exe' "$kit32" 0412345301
[[ -s $A/drive_c/trace64.log ]] && ok "TRACEFILE names the 64-bit server's trace" ||
  fail "no trace in C:\\trace64.log"
status=0
(cd "$dir64" && WINEPREFIX=$A timeout 120 "$wine64" Pagora.exe 0412345302 msi Pagora) \
  >"$work/pagora.out" 2>&1 || status=$?
((status == 0)) && ok "Pagora.exe with the installed pagora.ini" ||
  { fail "Pagora.exe exited $status:"; cat "$work/pagora.out"; }
sent+=("msi Pagora")

msiexec "remove x86" x86-removed /x "$(winpath "$x86")"
[[ ! -e $dir32 ]] || fail "files left after removing x86: $(ls "$dir32")"
snapshot "$A" alone
same_keys "x86 removed: the 64-bit registration as it was" alone ref64
send "msi 64-bit alone" "$wine64" 'C:\windows\system32\cscript.exe' "$kit64" 0412345303

msiexec "remove x64" x64-removed /x "$(winpath "$x64")"
snapshot "$A" removed
[[ -s $work/removed.keys ]] && { fail "keys left after removing both:"; cat "$work/removed.keys"; }
for dir in "$A/drive_c/Program Files/Zentrova" "$A/drive_c/Program Files (x86)/Zentrova"; do
  [[ ! -e $dir ]] || fail "left after removing both: $dir: $(find "$dir")"
done
# The settings stay, as README says.
[[ $(settings 'HKLM\Software\Zentrova\SMS\3.0\Settings') == HTTP1=* ]] ||
  fail "the machine-wide settings went with the package"
((failed)) || ok "both removed: no class, ProgID, type library or file left"

# Every send reached the gateway, once.
for message in "${sent[@]}"; do
  n=$(grep -c "\"MSG\":\[\"$message\"\]\|\"Message\":\"$message\"" "$work/gateway.jsonl" || true)
  ((n == 1)) || fail "\"$message\" reached the gateway $n times"
done

echo "wine msi: $((SECONDS - started)) s in all"
if ((failed)); then echo "wine msi: FAILED"; exit 1; fi
echo "wine msi: all passed"
