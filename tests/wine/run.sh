#!/usr/bin/env bash
# ZentrovaCOM.dll and Pagora.exe under Wine, driven the way Windows users
# drive them: regsvr32, VBScript and JScript files run by cscript, Pagora.exe
# with its pagora.ini beside it, all against sms-sandbox, which runs natively
# on loopback and records what arrives. Each run makes its own 64-bit Wine
# prefix (which runs 32-bit programs as 64-bit Windows does) and stops its own
# wineserver at the end.
#
#   tests/wine/run.sh --dll ZentrovaCOM.dll --sandbox sms-sandbox [--pagora Pagora.exe]
#                     [--other-dll ZentrovaCOM.dll] [--keep]
#
# The run's bitness is --dll's: its programs are the system's of that bitness
# (C:\windows\system32 for 64-bit, C:\windows\syswow64 for 32-bit), each started
# through the Wine loader of its bitness, and every line names the one that ran.
# --other-dll, the DLL of the other bitness, adds the cases of both registered
# side by side. The DLLs are registered from a folder whose name the ANSI code
# page cannot hold.
#
# cscript ends a script that fails with exit status 0 and, under Wine, prints
# nothing: every script ends by printing "DONE <name>", and a script whose
# marker is missing has failed. Inside a script, a failed check prints a line
# that starts with "FAIL".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dll= sandbox= pagora= keep= other=
while (($#)); do
  case $1 in
    --dll) dll=$2; shift 2 ;;
    --other-dll) other=$2; shift 2 ;;
    --sandbox) sandbox=$2; shift 2 ;;
    --pagora) pagora=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 --dll ZentrovaCOM.dll --sandbox sms-sandbox [--pagora Pagora.exe]" \
            "[--other-dll ZentrovaCOM.dll] [--keep]" >&2
       exit 64 ;;
  esac
done
[[ -f $dll ]] || { echo "$0: no DLL at '$dll' (build the Windows tree first)" >&2; exit 2; }
[[ -x $sandbox ]] || {
  echo "$0: no sms-sandbox at '$sandbox' (build the Linux tree first: ./run build)" >&2; exit 2; }
[[ -z $other || -f $other ]] || {
  echo "$0: no DLL at '$other' (build the other Windows tree first)" >&2; exit 2; }

source "$here/common.sh" scripts
export WINEPREFIX=$work/prefix
stop_wine() { wineserver -k 2>/dev/null || true; }
[[ -x $wine64 ]] || { echo "$0: Wine's 64-bit loader is not installed (./run deps)" >&2; exit 2; }

# A PE file's bitness: 32 or 64, from the machine field of its header.
pe_bits() {
  local at
  at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  [[ $(od -An -tx2 -j$((at + 4)) -N2 "$1" | tr -d ' ') == 8664 ]] && echo 64 || echo 32
}
bits=$(pe_bits "$dll")
[[ $bits == 64 ]] || [[ -x $wine32 ]] || {
  echo "$0: 32-bit Wine is not installed (wine32:i386; ./run deps)" >&2; exit 2; }
[[ -z $other ]] || [[ $(pe_bits "$other") != "$bits" ]] || {
  echo "$0: --other-dll has the same bitness as --dll" >&2; exit 2; }

# One sandbox, four listeners: the gateway, a gateway that refuses (503), a
# mailbox, and a mailbox that refuses the recipient. Nothing listens on port 1
# of the loopback: a server that cannot be reached.
start_sandbox gateway --http 127.0.0.1:0 --http 127.0.0.1:0 --status 503 \
  --smtp 127.0.0.1:0 --smtp 127.0.0.1:0 --smtp-reply 'rcpt=550 no such mailbox'
gateway=${listeners[0]} refusing=${listeners[1]} mailbox=${listeners[2]} badmailbox=${listeners[3]}
dead=127.0.0.1:1

# One wineserver for the whole run: by default it ends a few seconds after its
# last program, and each start after that costs seconds of its services.
mkdir -p "$WINEPREFIX"
wineserver -p
boot=$SECONDS
timeout 180 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
echo "wine prefix ready in $((SECONDS - boot)) s"

# The kit as a user unpacks it, on a drive letter of its own: the scripts and
# Pagora.exe in one folder, each DLL in a folder named in UTF-16 only (neither
# "é" nor "Ł" is in one ANSI code page), with a blank.
mkdir -p "$work/kit"
cp "$here"/*.vbs "$here"/*.js "$work/kit/"
kit=$(winpath "$work/kit")
declare -A dlls  # bitness -> the DLL's Windows path
place_dll() {
  local folder="$work/José Łuk/win$(pe_bits "$1")"
  mkdir -p "$folder"
  cp "$1" "$folder/"
  dlls[$(pe_bits "$1")]=$(winpath "$folder/$(basename "$1")")
}
place_dll "$dll"
[[ -z $other ]] || place_dll "$other"

# host BITS PROGRAM ARGUMENTS...: a program of the system's own folder for that
# bitness, through that bitness's loader. A bare name would be looked up by
# whichever loader starts it: Debian's "wine" would run the 32-bit cscript.
loader() { if (($1 == 64)); then echo "$wine64"; else echo "$wine32"; fi; }
host() {
  local bits=$1 program=$2 folder='C:\windows\system32'
  shift 2
  ((bits == 64)) || folder='C:\windows\syswow64'
  timeout 300 "$(loader "$bits")" "$folder\\$program" "$@"
}

# Runs one script with the script host of a bitness; its output must end with
# its marker and hold no FAIL line.
script() {
  local bits=$1 name=$2
  shift 2
  local out status=0 begun=$SECONDS what="$name${*:+ $*} ($bits-bit cscript"
  out=$(host "$bits" cscript.exe //nologo "$kit\\$name" "$@" 2>&1 | tr -d '\r') || status=$?
  grep -a '^FAIL' <<<"$out" | while IFS= read -r line; do
    printf '%s): %s\n' "$what" "$line"
  done || true
  if [[ $out != *"DONE ${name%.*}"* ]]; then
    fail "$what): no DONE marker (the script stopped on an error; exit $status); it printed:"
    sed 's/^/    /' <<<"$out"
  elif grep -aq '^FAIL' <<<"$out"; then
    failed=1
  else
    echo "ok   $what, $((SECONDS - begun)) s)"
  fi
}

# regsvr BITS [/u]: registers (or unregisters) that bitness's DLL with the
# regsvr32 of its bitness.
regsvr() {
  local bits=$1 status=0
  shift
  host "$bits" regsvr32.exe /s "$@" "${dlls[$bits]}" >/dev/null 2>&1 || status=$?
  if ((status == 0)); then
    echo "ok   regsvr32 ${*:+$* }${dlls[$bits]} ($bits-bit regsvr32)"
  else
    fail "regsvr32 ${*:+$* }${dlls[$bits]} ($bits-bit regsvr32) exited $status"
  fi
}
# registry.vbs MODE as a bitness's script host sees the registry.
registry() { script "$1" registry.vbs "$2" "win$1" "${dlls[$1]}"; }

# The scripts the run's own script host runs while its DLL is registered, each
# with its arguments.
scripts=(
  "recipients.vbs $gateway"
  "texts.js $gateway"
  "delivery.vbs $gateway $refusing $dead $mailbox $badmailbox"
)
regsvr "$bits"
registry "$bits" present
for case in "${scripts[@]}"; do
  script "$bits" $case
done

# Pagora.exe reads pagora.ini beside it and HTTP1 from the registry.
if [[ -n $pagora ]]; then
  cp "$pagora" "$work/kit/Pagora.exe"
  printf '[CONFIG]\r\nAccountId=123456\r\nPassword=secret\r\nEmail=me@example.com\r\n' \
    >"$work/kit/pagora.ini"
  source "$here/deploy.sh"  # the kit as an administrator deploys it
fi

# Both bitnesses registered side by side, as on a 64-bit Windows that serves
# 32-bit and 64-bit clients: each script host makes the object of its own
# bitness. Unregistering one (twice: the second finds nothing of its own and
# changes nothing) leaves the other working, since the keys both share stay.
otherbits=$((96 - bits))
if [[ -n $other ]]; then
  regsvr "$otherbits"
  script 64 side_by_side.vbs "$gateway" "both, 64-bit host" 0412345300
  script 32 side_by_side.vbs "$gateway" "both, 32-bit host" 0412345301
  for gone in 64 32; do
    kept=$((96 - gone))
    regsvr "$gone" /u
    regsvr "$gone" /u
    registry "$gone" other
    script "$kept" side_by_side.vbs "$gateway" "$kept-bit alone" 0412345302
    regsvr "$gone"
  done
  regsvr "$otherbits" /u
fi

regsvr "$bits" /u
registry "$bits" absent
[[ -z $other ]] || registry "$otherbits" absent
# A second unregistration finds nothing to do and says so with success.
regsvr "$bits" /u

# What the sandbox received, byte for byte.
python3 "$here/check_log.py" "$work/gateway.jsonl" "$gateway" "$refusing" "$mailbox" \
  ${pagora:+--pagora} ${other:+--side-by-side} || failed=1

echo "wine scripts ($bits-bit${other:+, side by side}): $((SECONDS - started)) s in all"
if ((failed)); then echo "wine scripts: FAILED"; exit 1; fi
echo "wine scripts: all passed"
