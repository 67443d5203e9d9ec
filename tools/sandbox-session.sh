# Sourced by the demo and the benchmark scripts: a scratch folder that holds
# everything they configure (registry, pagora.ini), removed at exit, and
# sms-sandbox started on a free loopback port. Needs $sandbox and $zcom set.
#   start_sandbox [SANDBOX OPTION...]   sets $address and points HTTP1 at it;
#                                       SANDBOX_ECHO=PREFIX shows its start-up lines
#   stop_sandbox

work=$(mktemp -d)
sandbox_pid=
cleanup() {
  if [[ -n $sandbox_pid ]]; then
    kill "$sandbox_pid" 2>/dev/null || true
    wait "$sandbox_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export ZENTROVA_REGISTRY=$work/registry
export XDG_CONFIG_HOME=$work/config
unset ZENTROVA_CODEPAGE http_proxy HTTP_PROXY

# Bash keeps one coprocess at a time: stop one sandbox before starting the next.
start_sandbox() {
  coproc SANDBOX { exec "$sandbox" --http 127.0.0.1:0 "$@"; }
  sandbox_pid=$SANDBOX_PID
  address=
  while IFS= read -r -t 10 line <&"${SANDBOX[0]}"; do
    [[ -n ${SANDBOX_ECHO:-} ]] && echo "$SANDBOX_ECHO$line"
    case $line in
      "sms-sandbox: listening http "*) address=${line#sms-sandbox: listening http } ;;
      "sms-sandbox: ready") break ;;
    esac
  done
  [[ -n $address ]] || { echo "$0: sms-sandbox did not get ready within 10 s" >&2; exit 1; }
}

stop_sandbox() {
  kill "$sandbox_pid"
  wait "$sandbox_pid" 2>/dev/null || true
  sandbox_pid=
}
