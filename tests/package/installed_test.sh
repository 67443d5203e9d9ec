#!/usr/bin/env bash
# Unpacks the Debian package into a scratch root and runs what it installed
# from there: Pagora, zcom registering the module that lies beside it, and a
# send through that module (by the example script) to sms-sandbox. Nothing in
# the package may point back at the build tree.
#   installed_test.sh DEB VERSION BUILD_DIR
set -euo pipefail
deb=$1 version=$2 build=$3

root=$(mktemp -d)
sandbox_pid=
cleanup() {
  [[ -n $sandbox_pid ]] && kill "$sandbox_pid" 2>/dev/null && wait "$sandbox_pid" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

[[ $(dpkg-deb -f "$deb" Depends) == *libcurl* ]] || fail "dependencies not worked out (dpkg-dev, file)"
dpkg-deb -x "$deb" "$root/fs"
usr=$root/fs/usr
! grep -rl --fixed-strings "$build" "$root/fs" || fail "files above name the build tree $build"
for page in man1/Pagora.1 man1/zcom.1 man1/sms-sandbox.1 man5/pagora.ini.5; do
  [[ -f $usr/share/man/$page.gz ]] || fail "manual page $page is missing"
  # groff's warnings are what man --warnings shows.
  warnings=$(zcat "$usr/share/man/$page.gz" | groff -ww -man -z 2>&1)
  [[ -z $warnings ]] || fail "$page: $warnings"
done

[[ $("$usr/bin/Pagora" --version) == "Pagora $version" ]] || fail "Pagora --version"

export ZENTROVA_REGISTRY=$root/registry
"$usr/bin/zcom" regsvr /s || fail "zcom regsvr without a path"
registered=$("$usr/bin/zcom" reg query \
  'HKCR\CLSID\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}\InprocServer32' /ve)
[[ $registered == *"$usr/lib/"*"/zentrova/libZentrovaCOM.so"* ]] ||
  fail "registered another module: $registered"

coproc SANDBOX { exec "$usr/bin/sms-sandbox" --http 127.0.0.1:0 --log "$root/gateway.jsonl"; }
sandbox_pid=$SANDBOX_PID
address=
while IFS= read -r -t 10 line <&"${SANDBOX[0]}"; do
  case $line in
    "sms-sandbox: listening http "*) address=${line#sms-sandbox: listening http } ;;
    "sms-sandbox: ready") break ;;
  esac
done
[[ -n $address ]] || fail "sms-sandbox did not get ready within 10 s"

ZCOM=$usr/bin/zcom ZENTROVA_PASSWORD=secret bash "$usr/share/doc/zentrova/examples/zcom-send.sh" \
  -a 123456 -e me@example.com -g "$address" 0412345678 Hello from the package ||
  fail "zcom-send.sh exited $?"
grep -q '"dialect":"APICOM"' "$root/gateway.jsonl" || fail "no APICOM request: $(cat "$root/gateway.jsonl")"
grep -q 'Hello from the package' "$root/gateway.jsonl" || fail "the message did not arrive"
echo "ok: $deb"
