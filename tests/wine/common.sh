# What the Wine harnesses (run.sh, msi.sh) share, sourced once their options
# are read: the loaders, a scratch folder, Wine without a display, FAIL and ok
# lines, and sms-sandbox on loopback. Usage: source common.sh NAME (the
# scratch folder's name); the exit runs the caller's stop_wine once defined.

# The loaders: Debian keeps the 64-bit one out of the PATH, and its "wine"
# starts the 32-bit loader whenever wine32 is installed.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wine32=/usr/lib/wine/wine
[[ -x $wine32 ]] || wine32=$(command -v wine || true)

work=$(mktemp -d "${TMPDIR:-/tmp}/zv-wine-$1.XXXXXX")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
started=$SECONDS failed=0 sandbox_pids=()
fail() { echo "FAIL $*"; failed=1; }
ok() { echo "ok   $*"; }
winpath() { echo "Z:${1//\//\\}"; }
cleanup() {
  local pid
  ! declare -F stop_wine >/dev/null || stop_wine
  for pid in "${sandbox_pids[@]}"; do { kill "$pid" && wait "$pid"; } 2>/dev/null || true; done
  if [[ -n $keep ]]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# start_sandbox NAME ARGUMENTS...: $sandbox with these listeners, its log in
# $work/NAME.jsonl; once it is ready, listeners holds their addresses in
# order. Its one line per request stays in the pipe unread: a run sends a few
# dozen.
start_sandbox() {
  local name=$1 line fd
  shift
  mkfifo "$work/$name.fifo"
  "$sandbox" "$@" --log "$work/$name.jsonl" >"$work/$name.fifo" 2>&1 &
  sandbox_pids+=($!)
  exec {fd}<"$work/$name.fifo"
  listeners=()
  while IFS= read -r -t 10 line <&"$fd"; do
    case $line in
      "sms-sandbox: listening "*) listeners+=("${line##* }") ;;
      "sms-sandbox: ready") return 0 ;;
    esac
  done
  echo "$0: sms-sandbox ($name) did not get ready within 10 s" >&2
  exit 1
}
