#!/usr/bin/env bash
# Whole-process time of one Pagora send against curl posting the same document
# to the same loopback gateway (sms-sandbox). The two commands are timed in
# turn, one run each, RUNS times over (a slow spell of the machine then hits
# both alike); the medians and their ratio (Pagora / curl) are printed, the
# ratio last.
#   tests/bench/send_vs_curl.sh [BUILD_DIR] [RUNS]     (default: build 60)
#   PAGORA=/path/to/other/Pagora tests/bench/send_vs_curl.sh ...   (an older build, say)
#   NUMBERS=100 tests/bench/send_vs_curl.sh ...   (one run sends to a list of 100 numbers;
#     curl posts the same documents, one request each, over one connection)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-60}
numbers=${NUMBERS:-1}
sandbox=$build/tools/sms-sandbox/sms-sandbox
pagora=${PAGORA:-$build/cli/Pagora}  # PAGORA=... times another build of it
zcom=$build/tools/zcom/zcom
for program in "$sandbox" "$pagora" "$zcom" /usr/bin/hyperfine /usr/bin/curl; do
  [[ -x $program ]] || { echo "send_vs_curl: $program is missing" >&2; exit 1; }
done

source "$(dirname "$0")/../../tools/sandbox-session.sh"

# Starts sms-sandbox with the given options and points HTTP1 at it.
start_gateway() {
  start_sandbox "$@"
  # Keep draining its one line per request so that it never blocks on the pipe.
  local drain
  exec {drain}<&"${SANDBOX[0]}"
  cat <&"$drain" >/dev/null &
  exec {drain}<&-
  "$zcom" reg add 'HKCU\Software\Zentrova\SMS\3.0\Settings' /v HTTP1 /d "$address" /f >/dev/null
}

mkdir -p "$XDG_CONFIG_HOME/pagora"
(umask 077 && printf '[CONFIG]\nAccountId=123456\nPassword=bench-secret\nEmail=bench@example.com\n' \
  >"$XDG_CONFIG_HOME/pagora/pagora.ini")

list=$(seq -f '04190%05g' 0 $((numbers - 1)) | paste -sd,)

# The documents curl posts: what Pagora sends, caught once by a journalling
# sandbox, which also tells over how many connections they came.
start_gateway --log "$work/journal.jsonl"
"$pagora" "$list" Benchmark message >/dev/null
stop_sandbox
python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
entries = [json.loads(line) for line in open(f"{work}/journal.jsonl")]
for i, entry in enumerate(entries):
    open(f"{work}/document{i}", "w", encoding="latin-1").write(entry["body"])
print(f"connections:   {len({e.get('connection') for e in entries})} for {len(entries)} requests of Pagora")
PY

# Without a journal the gateway answers as fast as it can.
start_gateway

url="http://$address/sms.dll?private&type=0"
posts=()
for ((i = 0; i < numbers; i++)); do
  ((i)) && posts+=(--next)
  posts+=(-s -o /dev/null --data-binary "@$work/document$i" "$url")
done
commands=("$pagora $list Benchmark message" "curl ${posts[*]}")
# Every other round curl goes first, so that neither gains by its place.
for ((i = 0; i < runs; i++)); do
  first=$((i % 2))
  hyperfine -N --runs 1 --style none --export-json "$work/run$i.json" \
    "${commands[first]}" "${commands[1 - first]}" >/dev/null 2>&1
done

python3 - "$work" "$runs" <<'PY'
import json, statistics, sys
work, runs = sys.argv[1], int(sys.argv[2])
times, cpu = [[], []], [[], []]
for i in range(runs):
    results = json.load(open(f"{work}/run{i}.json"))["results"]
    first = i % 2
    for which, result in ((first, results[0]), (1 - first, results[1])):
        times[which].append(result["mean"])
        cpu[which].append(result["user"] + result["system"])
pagora, curl = (statistics.median(t) * 1000 for t in times)
# Processor time is spared the machine's other load (waits for a processor,
# the gateway's own turn): a second view when the wall-clock times scatter.
pagora_cpu, curl_cpu = (statistics.median(t) * 1000 for t in cpu)
print(f"runs:          {runs} of each, in turn")
print(f"processor:     Pagora {pagora_cpu:.2f} ms, curl {curl_cpu:.2f} ms, "
      f"ratio {pagora_cpu / curl_cpu:.3f}")
print(f"Pagora median: {pagora:.2f} ms")
print(f"curl median:   {curl:.2f} ms")
print(f"ratio:         {pagora / curl:.3f}")
PY
