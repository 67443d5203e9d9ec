#!/bin/sh
# Sends one SMS through the automation server libZentrovaCOM.so, driven by
# zcom call as a script host would drive it: register the server, set the
# account properties, call PagoraMessage, read ResponseText.
#
#   sh zcom-send.sh -a ACCOUNT -e EMAIL -p PASSWORD [-g HOST:PORT] [-m MODULE] NUMBER MESSAGE...
#
#   -g HOST:PORT  the gateway server to send to, for example the address
#                 sms-sandbox prints (sms-sandbox --http 127.0.0.1:0);
#                 without it the registry's HTTP1 is used
#   -m MODULE     the server to register; without it, the one installed with zcom
#
# The registry is $ZENTROVA_REGISTRY when it is set; otherwise a private one
# that is removed when the script ends. zcom is taken from $ZCOM or the PATH.
# Exit status: 0 sent, 1 the gateway or a setting refused it (ResponseText is
# printed), 2 the object could not be made, 64 a wrong command line.
set -eu

usage() {
  sed -n '6,14s/^# \{0,1\}//p' "$0" >&2
  exit 64
}

account='' email='' password='' gateway='' module=''
while getopts a:e:p:g:m: option; do
  case $option in
    a) account=$OPTARG ;;
    e) email=$OPTARG ;;
    p) password=$OPTARG ;;
    g) gateway=$OPTARG ;;
    m) module=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] && [ -n "$account" ] && [ -n "$email" ] && [ -n "$password" ] || usage
number=$1
shift
message=$*
zcom=${ZCOM:-zcom}

if [ -z "${ZENTROVA_REGISTRY:-}" ]; then
  ZENTROVA_REGISTRY=$(mktemp -d)
  export ZENTROVA_REGISTRY
  trap 'rm -rf "$ZENTROVA_REGISTRY"' EXIT
fi

# Without a path, zcom registers the server installed beside it
# (../lib/<multiarch>/zentrova/libZentrovaCOM.so from zcom's own folder).
if [ -n "$module" ]; then
  "$zcom" regsvr /s "$module"
else
  "$zcom" regsvr /s
fi
if [ -n "$gateway" ]; then
  "$zcom" reg add 'HKCU\Software\Zentrova\SMS\3.0\Settings' /v HTTP1 /d "$gateway" /f >/dev/null
fi

# A text argument of a method call is quoted, with \ and " escaped.
text() { printf '"%s"' "$(printf '%s' "$1" | sed 's/[\\"]/\\&/g')"; }

# Property values in quotes are taken as written. ResponseText is empty after
# a delivery and holds the reason otherwise.
"$zcom" call ZentrovaCOM.SMSInterface \
  "Email=\"$email\"" "AccountID=\"$account\"" "Password=\"$password\"" \
  "PagoraMessage($(text "$number"), $(text "$message"))" ResponseText
