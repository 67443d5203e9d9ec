#!/usr/bin/env bash
# ZentrovaCOM.dll and Pagora.exe under Wine, driven the way Windows users
# drive them: regsvr32, VBScript and JScript files run by cscript, Pagora.exe
# with its pagora.ini beside it, all against sms-sandbox, which runs natively
# on loopback and records what arrives. Each run makes its own Wine prefix and
# stops its own wineserver at the end.
#
#   tests/wine/run.sh --dll ZentrovaCOM.dll --sandbox sms-sandbox [--pagora Pagora.exe] [--keep]
#
# cscript ends a script that fails with exit status 0 and, under Wine, prints
# nothing: every script ends by printing "DONE <name>", and a script whose
# marker is missing has failed. Inside a script, a failed check prints a line
# that starts with "FAIL".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dll= sandbox= pagora= keep=
while (($#)); do
  case $1 in
    --dll) dll=$2; shift 2 ;;
    --sandbox) sandbox=$2; shift 2 ;;
    --pagora) pagora=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 --dll ZentrovaCOM.dll --sandbox sms-sandbox [--pagora Pagora.exe] [--keep]" >&2
       exit 64 ;;
  esac
done
[[ -f $dll ]] || { echo "$0: no DLL at '$dll' (build the Windows tree first)" >&2; exit 2; }
[[ -x $sandbox ]] || {
  echo "$0: no sms-sandbox at '$sandbox' (build the Linux tree first: ./run build)" >&2; exit 2; }
command -v wine >/dev/null || { echo "$0: wine is not installed (./run deps-windows)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zv-wine-scripts.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
sandbox_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  [[ -n $sandbox_pid ]] && { kill "$sandbox_pid" 2>/dev/null; wait "$sandbox_pid" 2>/dev/null; }
  if [[ -n $keep ]]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
started=$SECONDS
failed=0
fail() { echo "FAIL $*"; failed=1; }

# One sandbox, four listeners: the gateway, a gateway that refuses (503), a
# mailbox, and a mailbox that refuses the recipient. Nothing listens on port 1
# of the loopback: a server that cannot be reached.
coproc SANDBOX { exec "$sandbox" --http 127.0.0.1:0 --http 127.0.0.1:0 --status 503 \
  --smtp 127.0.0.1:0 --smtp 127.0.0.1:0 --smtp-reply 'rcpt=550 no such mailbox' \
  --log "$work/gateway.jsonl" 2>&1; }
sandbox_pid=$SANDBOX_PID
listeners=()
while IFS= read -r -t 10 line <&"${SANDBOX[0]}"; do
  case $line in
    "sms-sandbox: listening "*) listeners+=("${line##* }") ;;
    "sms-sandbox: ready") break ;;
  esac
done
((${#listeners[@]} == 4)) || { echo "$0: sms-sandbox did not get ready within 10 s" >&2; exit 1; }
# Its one line per request stays in the pipe unread: a run sends a few dozen.
gateway=${listeners[0]} refusing=${listeners[1]} mailbox=${listeners[2]} badmailbox=${listeners[3]}
dead=127.0.0.1:1

# One wineserver for the whole run: by default it ends a few seconds after its
# last program, and each start after that costs seconds of its services.
mkdir -p "$WINEPREFIX"
wineserver -p
boot=$SECONDS
timeout 180 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
echo "wine prefix ready in $((SECONDS - boot)) s"

# The kit as a user unpacks it, on a drive letter of its own.
mkdir -p "$work/kit"
cp "$dll" "$here"/*.vbs "$here"/*.js "$work/kit/"
kit='Z:'$(tr / '\\' <<<"$work/kit")
dllwin="$kit\\$(basename "$dll")"

# Runs one script; its output must end with its marker and hold no FAIL line.
script() {
  local name=$1; shift
  local out status=0 begun=$SECONDS
  out=$(timeout 300 wine cscript //nologo "$kit\\$name" "$@" 2>&1 | tr -d '\r') || status=$?
  grep -a '^FAIL' <<<"$out" | sed "s/^/$name: /" || true
  if [[ $out != *"DONE ${name%.*}"* ]]; then
    fail "$name: no DONE marker (the script stopped on an error; exit $status); it printed:"
    sed 's/^/    /' <<<"$out"
  elif grep -aq '^FAIL' <<<"$out"; then
    failed=1
  else
    echo "ok   $name ($((SECONDS - begun)) s)"
  fi
}

regsvr() {
  local status=0
  timeout 120 wine regsvr32 /s "$@" >/dev/null 2>&1 || status=$?
  ((status == 0)) || fail "regsvr32 $* exited $status"
}

regsvr "$dllwin"
script registry.vbs present
script properties.js
script recipients.vbs "$gateway"
script texts.js "$gateway"
script delivery.vbs "$gateway" "$refusing" "$dead" "$mailbox" "$badmailbox"
script shared.vbs

# Pagora.exe reads pagora.ini beside it and HTTP1 from the registry.
pagora_run() {  # expected exit status, HTTP1, arguments
  local status=0
  wine reg add 'HKCU\Software\Zentrova\SMS\3.0\Settings' /v HTTP1 /d "$2" /f >/dev/null 2>&1
  (cd "$work/kit" && timeout 120 wine Pagora.exe "${@:3}") >"$work/pagora.out" 2>&1 || status=$?
  if ((status == $1)); then
    echo "ok   Pagora.exe ${*:3}: exit $status"
  else
    fail "Pagora.exe ${*:3} exited $status, not $1; it printed:"
    sed 's/^/    /' "$work/pagora.out"
  fi
}
if [[ -n $pagora ]]; then
  cp "$pagora" "$work/kit/Pagora.exe"
  printf '[CONFIG]\r\nAccountId=123456\r\nPassword=secret\r\nEmail=me@example.com\r\n' \
    >"$work/kit/pagora.ini"
  pagora_run 0 "$gateway" 0412345200 PagoraHello
  pagora_run 10 "$refusing" 0412345201 PagoraRefused  # 503: no usable reply
  source "$here/deploy.sh"  # the kit as an administrator deploys it
fi

regsvr /u "$dllwin"
script registry.vbs absent
# A second unregistration finds nothing to do and says so with success.
regsvr /u "$dllwin"

# What the sandbox received, byte for byte.
python3 "$here/check_log.py" "$work/gateway.jsonl" "$gateway" "$refusing" "$mailbox" \
  ${pagora:+--pagora} || failed=1

echo "wine scripts: $((SECONDS - started)) s in all"
if ((failed)); then echo "wine scripts: FAILED"; exit 1; fi
echo "wine scripts: all passed"
