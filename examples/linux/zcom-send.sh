#!/bin/sh
# Sends one SMS through the automation server libZentrovaCOM.so, driven by
# zcom call as a script host would drive it: register the server, set the
# account properties, call PagoraMessage, read ResponseText.
#
#   sh zcom-send.sh -a ACCOUNT -e EMAIL [-g HOST:PORT] [-m MODULE] NUMBER MESSAGE...
#
#   -g HOST:PORT  the gateway server to send to, for example the address
#                 sms-sandbox prints (sms-sandbox --http 127.0.0.1:0);
#                 without it the registry's HTTP1 is used
#   -m MODULE     the server to register; without it, the one installed with zcom
#
#   The password is read from $ZENTROVA_PASSWORD, or when that is unset from the
#   first line of standard input (asked for on a terminal); a command line would
#   show it to every local user in ps and /proc.
#
# The registry is $ZENTROVA_REGISTRY when it is set; otherwise a private one
# that is removed when the script ends. zcom is taken from $ZCOM or the PATH.
# Exit status: 0 sent, 1 the gateway or a setting refused it (ResponseText is
# printed), 2 the object could not be made, 64 a wrong command line.
set -eu

usage() {
  sed -n '6,15s/^# \{0,1\}//p' "$0" >&2
  exit 64
}

account='' email='' gateway='' module=''
while getopts a:e:g:m: option; do
  case $option in
    a) account=$OPTARG ;;
    e) email=$OPTARG ;;
    g) gateway=$OPTARG ;;
    m) module=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] && [ -n "$account" ] && [ -n "$email" ] || usage
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

# zcom takes the password from the environment or from its standard input,
# never from its command line.
if [ -n "${ZENTROVA_PASSWORD+set}" ]; then
  password='Password<env:ZENTROVA_PASSWORD'
else
  password='Password<stdin'
  if [ -t 0 ]; then
    printf 'Password: ' >&2
    stty -echo
    IFS= read -r ZENTROVA_PASSWORD || true
    stty echo
    printf '\n' >&2
    export ZENTROVA_PASSWORD
    password='Password<env:ZENTROVA_PASSWORD'
  fi
fi

# Property values in quotes are taken as written. ResponseText is empty after
# a delivery and holds the reason otherwise.
"$zcom" call ZentrovaCOM.SMSInterface \
  "Email=\"$email\"" "AccountID=\"$account\"" "$password" \
  "PagoraMessage($(text "$number"), $(text "$message"))" ResponseText
