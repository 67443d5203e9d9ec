#!/usr/bin/env bash
# The demo: start sms-sandbox on loopback, point a scratch registry at it with
# zcom, write a pagora.ini, send a message with Pagora and show what the
# gateway received; then register the automation server, script it with zcom
# call and show the document it sent. Usage: tools/demo.sh BUILD_DIR   (./run demo does it all)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sandbox=$build/tools/sms-sandbox/sms-sandbox
pagora=$build/cli/Pagora
zcom=$build/tools/zcom/zcom
for program in "$sandbox" "$pagora" "$zcom"; do
  [[ -x $program ]] || { echo "demo: $program is missing; build first (./run build)" >&2; exit 1; }
done

# Everything the demo configures lives in the scratch folder, not in your home.
source "$(dirname "$0")/sandbox-session.sh"

echo "== Starting sms-sandbox on a free loopback port"
SANDBOX_ECHO="   " start_sandbox --log "$work/gateway.jsonl"

echo
echo "== Pointing the registry stand-in at it"
echo "   \$ zcom reg add \"HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings\" /v HTTP1 /d $address /f"
"$zcom" reg add 'HKCU\Software\Zentrova\SMS\3.0\Settings' /v HTTP1 /d "$address" /f | sed 's/^/   /'
echo "   $ZENTROVA_REGISTRY/HKEY_CURRENT_USER.reg now reads:"
sed 's/^/     /' "$ZENTROVA_REGISTRY/HKEY_CURRENT_USER.reg"

echo
echo "== Writing $XDG_CONFIG_HOME/pagora/pagora.ini"
mkdir -p "$XDG_CONFIG_HOME/pagora"
(umask 077 && cat >"$XDG_CONFIG_HOME/pagora/pagora.ini" <<'INI'
[CONFIG]
AccountId=123456
Password=demo-secret
Email=demo@example.com
INI
)
sed 's/^/     /' "$XDG_CONFIG_HOME/pagora/pagora.ini"

echo
echo "== Sending"
echo "   \$ Pagora \"0419000000,040700001111\" Hello from the Zentrova demo."
set +e
"$pagora" "0419000000,040700001111" Hello from the Zentrova demo. | sed 's/^/   /'
status=${PIPESTATUS[0]}
set -e
echo "   (exit status $status)"

echo
echo "== What the gateway received"
for _ in 1 2; do
  IFS= read -r -t 5 line <&"${SANDBOX[0]}" && echo "   $line"
done
/usr/bin/python3 - "$work/gateway.jsonl" <<'PY'
import json, sys
for n, line in enumerate(open(sys.argv[1], encoding="utf-8"), 1):
    e = json.loads(line)
    print(f"   -- request {n}: {e['request_line']}")
    for name, value in e["headers"]:
        print(f"      {name}: {value}")
    print("      body:")
    for body_line in e["body"].split("\n")[:-1]:
        print(f"        {body_line}")
    fields = e.get("fields", {})
    if fields:
        print(f"      read as {e.get('dialect')}: number {fields['1']['Number']!r}, "
              f"message {fields['1']['Message']!r}")
    print(f"      answered {e['status']} {e['reply']!r}")
PY

echo
echo "== The automation server, driven as a script host would drive it"
com=$build/com/libZentrovaCOM.so
if [[ -f $com ]]; then
  echo "   \$ zcom regsvr $com"
  "$zcom" regsvr "$com" | sed 's/^/   /'
  steps=(Version 'Email="demo@example.com"' AccountID=1234 ResponseText AccountID=123456 AccountID
         Password=demo-secret CountryCode=61
         'PagoraMessage(["0419000000", "040700001111"], "Hello from a script")' ResponseText)
  echo "   \$ zcom call ZentrovaCOM.SMSInterface$(printf " '%s'" "${steps[@]}")"
  "$zcom" call ZentrovaCOM.SMSInterface "${steps[@]}" 2>&1 | sed 's/^/   /' || true

  echo
  echo "== What the gateway received from the automation server (deciphered by sms-sandbox)"
  IFS= read -r -t 5 line <&"${SANDBOX[0]}" && echo "   $line"
  /usr/bin/python3 - "$work/gateway.jsonl" <<'PY' || status=1
import json, sys
entries = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
entries = [e for e in entries if e.get("dialect") == "APICOM"]
if not entries:
    print("   (nothing arrived)")
    sys.exit(1)
e = entries[-1]
print(f"   -- {e['request_line']}, {len(e['body'])} bytes of cipher lines and the [FROM] trailer")
fields = e["fields"]
if "error" in fields:
    print(f"   unreadable: {fields['error']}")
    sys.exit(1)
print("      plain document:")
for line in fields["plain"].replace("\r\n", "\n").split("\n"):
    print(f"        {line}")
print(f"      trailer: ID={fields['FROM']['ID']} Email={fields['FROM']['Email']}")
print(f"      answered {e['status']} {e['reply']!r}")
PY
fi
exit "$status"
