#!/usr/bin/env python3
"""Mutation testing for the kit: how many small faults does the Linux suite catch?

It parses no C++. It finds mutation sites by token patterns in the product
sources, draws N of them at random with a seed, and for each one: applies the
single change to a private copy of the source tree, builds that copy's tree
(incrementally, through ccache when the machine has it), runs the tests that
cover the changed file and, only when those all pass, the whole Linux suite.
The working tree is never written to, so an interrupted run leaves nothing
behind but its own folder.

Output: one JSON line per mutant in OUT (default build-mutate/mutants.jsonl)
and a summary on standard output with the score over the mutants that built.
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, asdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# The Windows adapters are compiled only by the cross-build, which has no
# suite here to judge them.
PRODUCT_DIRS = ["cli", "com", "gateway", "smtp", "identity", "platform/posix",
                "platform/portable", "platform/compat", "tools"]
SKIP_PARTS = {"win32", "tests"}
SOURCE_SUFFIXES = {".cpp", ".h"}

# The tests to try first for a file: those built from these test folders.
COVERING = {
    "cli": ["cli"],
    "com": ["com"],
    "gateway": ["gateway", "cli", "com"],
    "smtp": ["smtp", "com"],
    "identity": ["identity", "gateway"],
    "platform": ["platform", "gateway", "cli", "com", "smtp", "identity"],
    "tools/zcom": ["com"],
    "tools/sms-sandbox": ["identity", "com", "cli", "smtp"],
}

# Functions whose string argument is a set of characters.
CHARSET_CALLS = re.compile(r"\b(find_first_of|find_first_not_of|find_last_of|find_last_not_of"
                           r"|strchr|strpbrk|strspn|strcspn|memchr)\s*\(")
CHARSET_NAME = re.compile(r"\bk\w*(Chars|Characters|Set|Class)\s*=")
ADDED_CHARS = ["_", "-", ".", " ", "\\\\", "\\\""]


@dataclass
class Mutant:
    file: str
    line: int          # 1-based
    operator: str
    before: str        # the whole original line
    after: str         # the whole mutated line


def mask_line(line, in_block):
    """The line with comments, string and character literals blanked out
    (kept the same length), and whether a block comment is still open."""
    out = list(line)
    i, n = 0, len(line)
    while i < n:
        if in_block:
            end = line.find("*/", i)
            stop = n if end < 0 else end + 2
            for k in range(i, stop):
                out[k] = " "
            i, in_block = stop, end < 0
            continue
        c = line[i]
        if line.startswith("//", i):
            for k in range(i, n):
                out[k] = " "
            break
        if line.startswith("/*", i):
            in_block = True
            continue
        if c in "\"'":
            if c == "'" and i > 0 and (line[i - 1].isalnum()):
                i += 1          # a digit separator: 1'000
                continue
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            for k in range(i + 1, min(j, n)):
                out[k] = " "
            i = j + 1
            continue
        i += 1
    return "".join(out), in_block


def string_literals(line):
    """(start, end) of each "..." literal's contents on a line."""
    spans, i, n = [], 0, len(line)
    while i < n:
        if line.startswith("//", i):
            break
        if line[i] == "'" and i + 2 < n:
            i = line.find("'", i + 2 if line[i + 1] == "\\" else i + 1) + 1 or n
            continue
        if line[i] == '"':
            j = i + 1
            while j < n and line[j] != '"':
                j += 2 if line[j] == "\\" else 1
            spans.append((i + 1, j))
            i = j + 1
            continue
        i += 1
    return spans


REL = [("<=", "<"), (">=", ">"), ("==", "!="), ("!=", "==")]
STATEMENT_START = re.compile(r"^\s*(?!return\b|if\b|else\b|for\b|while\b|case\b|default\b|break\b|continue\b"
                             r"|using\b|namespace\b|static\b|const\b|constexpr\b|auto\b|struct\b|class\b"
                             r"|enum\b|template\b|typedef\b|public\b|private\b|protected\b|throw\b|goto\b)"
                             r"[A-Za-z_*(][\w:.\->\[\]*()]*\s*(\(|=[^=]|\+=|-=|\|=|&=|<<=|>>=|\+\+|--)")
DECLARATION = re.compile(r"^\s*[\w:<>,\s*&]+\s+[*&]*\w+\s*(=|\{|\(|;)")


def operand_span(masked, pos, width):
    """The operands around the && or || at pos, within the innermost brackets
    and up to the next && or || at the same depth: (left_start, right_end)."""
    depth, i = 0, pos - 1
    while i >= 0:
        c = masked[i]
        if c in ")]":
            depth += 1
        elif c in "([":
            if depth == 0:
                break
            depth -= 1
        elif depth == 0 and masked[i - 1:i + 1] in ("&&", "||") and i >= 1:
            break
        elif (depth == 0 and c in ";,=?:" and masked[i - 1:i + 1] not in ("==", "!=", "<=", ">=", "::")
              and masked[i:i + 2] not in ("==", "::")):
            break
        i -= 1
    left = i + 1
    depth, j = 0, pos + width
    while j < len(masked):
        c = masked[j]
        if c in "([":
            depth += 1
        elif c in ")]":
            if depth == 0:
                break
            depth -= 1
        elif depth == 0 and masked[j:j + 2] in ("&&", "||"):
            break
        elif depth == 0 and c in ";,?:{" and masked[j:j + 2] != "::" and masked[j - 1:j + 1] != "::":
            break
        j += 1
    return left, j


def mutants_of_line(path, number, line, masked, prev_code):
    out = []

    def put(op, start, end, text):
        after = line[:start] + text + line[end:]
        if after != line:
            out.append(Mutant(path, number, op, line, after))

    stripped = masked.strip()
    if not stripped or stripped.startswith("#"):
        return out
    # Relational flips and boundary shifts.
    for m in re.finditer(r"<=>|<<=?|>>=?|->|<=|>=|==|!=|(?<=\s)[<>](?=\s)", masked):
        tok = m.group(0)
        if tok in ("<=>", "<<", ">>", "<<=", ">>=", "->"):
            continue
        if "operator" in masked[max(0, m.start() - 10):m.start()]:
            continue
        swap = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}[tok]
        put("relational", m.start(), m.end(), swap)
    # Integer constants.
    # A row of a data table (four numbers or more) counts as one site, not
    # one per number, so that tables do not swamp the draw.
    numbers = list(re.finditer(r"(?<![\w.'])(\d+)(u|U|l|L|ul|UL|ull|ULL|z)?(?![\w.'])", masked))
    table_row = len(numbers) >= 4
    pure = re.search(r"\)\s*(const\s*)?=\s*0\s*;", masked)
    for index, m in enumerate(numbers):
        digits = m.group(1)
        if table_row and index != number % len(numbers):
            continue
        if pure and m.start() > pure.start():
            continue
        if len(digits) > 1 and digits.startswith("0"):
            continue
        value = int(digits)
        choices = [value + 1]
        if value > 0:
            choices.append(value - 1)
        if value > 1:
            choices.append(value * 10)
        if value >= 10:
            choices.append(value // 10)
        if table_row:
            choices = choices[:1]
        for v in choices:
            put("constant", m.start(1), m.end(1), str(v))
    for m in re.finditer(r"\b(true|false)\b", masked):
        put("boolean", m.start(), m.end(), "false" if m.group(0) == "true" else "true")
    for m in re.finditer(r"&&|\|\|", masked):
        put("logical", m.start(), m.end(), "||" if m.group(0) == "&&" else "&&")
        left, right = operand_span(masked, m.start(), 2)
        lhs, rhs = line[left:m.start()].strip(), line[m.end():right].strip()
        if lhs and rhs:
            span = line[left:right]
            lead, trail = span[:len(span) - len(span.lstrip())], span[len(span.rstrip()):]
            put("drop-condition", left, right, lead + lhs + trail)
            put("drop-condition", left, right, lead + rhs + trail)
    # A deleted statement: a call or an assignment standing on one line,
    # following a complete statement or a brace.
    if (stripped.endswith(";") and STATEMENT_START.match(masked) and not DECLARATION.match(masked)
            and prev_code.rstrip().endswith((";", "{", "}", ":")) and masked.count("(") == masked.count(")")):
        indent = line[:len(line) - len(line.lstrip())]
        out.append(Mutant(path, number, "delete-statement", line, indent + ";\n"))
    # Character classes: a string that names a set of characters.
    if CHARSET_CALLS.search(masked) or CHARSET_NAME.search(masked):
        for start, end in string_literals(line):
            body, k, chars = line[start:end], 0, []
            while k < len(body):
                width = 2 if body[k] == "\\" else 1
                chars.append((start + k, start + k + width))
                k += width
            if len(chars) > 1:
                for a, b in chars:
                    put("charset-remove", a, b, "")
            for extra in ADDED_CHARS:
                if extra not in body:
                    put("charset-add", end, end, extra)
    return out


def product_files():
    for folder in PRODUCT_DIRS:
        for path in sorted((ROOT / folder).rglob("*")):
            rel = path.relative_to(ROOT)
            if path.suffix in SOURCE_SUFFIXES and not SKIP_PARTS & set(rel.parts):
                yield rel


def all_mutants():
    found = []
    for rel in product_files():
        text = (ROOT / rel).read_text(encoding="utf-8", errors="surrogateescape")
        in_block, prev_code = False, "{"
        for number, line in enumerate(text.splitlines(keepends=True), start=1):
            masked, in_block = mask_line(line.rstrip("\n"), in_block)
            found += mutants_of_line(str(rel), number, line, masked + line[len(line.rstrip("\n")):], prev_code)
            if masked.strip():
                prev_code = masked
    return found


class Runner:
    def __init__(self, work, timeout_factor, log):
        self.work = work
        self.src = work / "src"
        self.build = work / "build"
        self.log = log
        self.timeout_factor = timeout_factor
        self.tests = None
        self.slow = set()
        self.baseline = None
        self.digests = {}
        self.killers = {}
        self.reads = {}  # test name -> its arguments, some of them source files it reads
        self.runs = {}

    def sh(self, args, timeout=None, cwd=None):
        return subprocess.run(args, cwd=cwd or self.src, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, errors="replace", timeout=timeout, start_new_session=True)

    def prepare(self):
        """A private copy of the tree and a build tree made from it."""
        self.src.mkdir(parents=True, exist_ok=True)
        # Only files whose bytes differ are written, with a fresh time: a second
        # run rebuilds nothing it need not, and a file an interrupted run left
        # restored after its mutant was built is still newer than that object.
        skip = {".git", "dist"}
        for path in ROOT.rglob("*"):
            rel = path.relative_to(ROOT)
            if rel.parts[0] in skip or rel.parts[0].startswith("build") or path.is_dir():
                continue
            copy = self.src / rel
            if path.is_symlink():
                if not copy.is_symlink() or os.readlink(copy) != os.readlink(path):
                    copy.unlink(missing_ok=True)
                    copy.parent.mkdir(parents=True, exist_ok=True)
                    copy.symlink_to(os.readlink(path))
                continue
            data = path.read_bytes()
            if not copy.is_file() or copy.is_symlink() or copy.read_bytes() != data:
                copy.unlink(missing_ok=True)
                copy.parent.mkdir(parents=True, exist_ok=True)
                copy.write_bytes(data)
                shutil.copymode(path, copy)
        launcher = []
        if shutil.which("ld.lld"):
            # Most of a mutant's build is relinking the programs; lld does it quickest.
            launcher += [f"-DCMAKE_{kind}_LINKER_FLAGS=-fuse-ld=lld" for kind in ("EXE", "SHARED", "MODULE")]
        if shutil.which("ccache"):
            launcher += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        # The suite's own optimisation without debug information: links are
        # several times faster, and an equivalent mutant then leaves every
        # program byte for byte as it was.
        r = self.sh(["cmake", "-S", str(self.src), "-B", str(self.build), "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
                     "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG", "-DZV_BENCHMARKS=OFF", *launcher])
        if r.returncode:
            sys.exit("mutate: cmake failed:\n" + r.stdout[-3000:])
        self.log("building the unmutated tree once")
        r = self.sh(["cmake", "--build", str(self.build)])
        if r.returncode:
            sys.exit("mutate: the unmutated tree does not build:\n" + r.stdout[-3000:])
        listing = json.loads(self.sh(["ctest", "--test-dir", str(self.build), "--show-only=json-v1"]).stdout)
        self.tests = []
        for t in listing["tests"]:
            labels = next((p["value"] for p in t.get("properties", []) if p["name"] == "LABELS"), [])
            if "package" in labels or not t.get("command"):
                continue
            self.tests.append((t["name"], t["command"][0]))
            self.reads[t["name"]] = {os.path.realpath(a) for a in t["command"][1:] if os.path.isabs(a)}
            if "slow" in labels:
                self.slow.add(t["name"])
        self.log(f"{len(self.tests)} tests; timing the whole suite once")
        start = time.monotonic()
        status, failed = self.run_tests([name for name, _ in self.tests], timeout=3600)
        self.baseline = time.monotonic() - start
        if status != "passed":
            sys.exit(f"mutate: the suite fails without any mutant ({failed}); mend that first")
        self.log(f"the suite takes {self.baseline:.0f} s")
        self.digests = {p: digest(p) for p in self.binaries()}
        self.runs = self.programs_run()

    def run_tests(self, names, timeout):
        if not names:
            return "passed", None
        pattern = "^(" + "|".join(re.escape(n) for n in names) + ")$"
        try:
            r = self.sh(["ctest", "--test-dir", str(self.build), "-j2", "--timeout", "300",
                         "--stop-on-failure", "-R", pattern], timeout=timeout)
        except subprocess.TimeoutExpired:
            return "timed out", None
        if r.returncode == 0:
            return "passed", None
        failed = re.findall(r"^\s*\d+ - (\S+) \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)", r.stdout, re.M)
        if failed and all(kind == "Timeout" for _, kind in failed):
            return "timed out", failed[0][0]
        return "killed", failed[0][0] if failed else "ctest"

    def programs_run(self):
        """For each test program, the programs and libraries of ours it starts
        or loads, from the tests' CMakeLists: add_dependencies, and the sandbox
        for everything built on the test support library."""
        calls = {}
        for lists in (self.src / "tests").rglob("CMakeLists.txt"):
            text = re.sub(r"#.*", "", lists.read_text(encoding="utf-8"))
            for kind, body in re.findall(r"\b(zv_add_test|add_dependencies)\s*\(([^)]*)\)", text):
                words = body.split()
                entry = calls.setdefault(words[0], set())
                if kind == "add_dependencies":
                    entry.update(words[1:])
                elif "zv_test_support" in words:
                    entry.add("sms-sandbox")
        files = {}
        for path in self.build.rglob("*"):
            if path.is_file() and "CMakeFiles" not in path.parts:
                files.setdefault(path.name, str(path))
        return {test: {files.get(n) or files.get(f"lib{n}.so") for n in names} - {None}
                for test, names in calls.items()}

    def could_notice(self, command, rebuilt):
        """Whether a test whose program is at command can see a change that
        rebuilt these files: its own program was rebuilt, or one it runs was.
        A test program the lists do not name is always run."""
        runs = self.runs.get(Path(command).name)
        return command in rebuilt or runs is None or bool(runs & rebuilt)

    def wanted(self, rel):
        """Every test, but those that run a shipped time limit unshortened
        (half a minute each) only for the files that hold or use the limits."""
        text = (self.src / rel).read_text(encoding="utf-8", errors="replace")
        uses_limits = rel.endswith("time_limits.h") or "time_limits.h" in text
        return [(n, c) for n, c in self.tests if uses_limits or n not in self.slow]

    def covering(self, rel, rebuilt):
        parts = Path(rel).parts
        key = "/".join(parts[:2]) if parts[0] == "tools" else parts[0]
        dirs = COVERING.get(key, [])
        first = []
        for name, command in self.wanted(rel):
            where = Path(command)
            if command in rebuilt or any((self.build / "tests" / d) in where.parents for d in dirs):
                first.append(name)
        return first

    def binaries(self):
        stamps = {}
        for p in self.build.rglob("*"):
            if p.is_file() and os.access(p, os.X_OK) or p.suffix == ".so":
                stamps[str(p)] = p.stat().st_mtime_ns
        return stamps

    def try_mutant(self, m):
        target = self.src / m.file
        original = target.read_bytes()
        lines = original.decode("utf-8", "surrogateescape").splitlines(keepends=True)
        lines[m.line - 1] = m.after
        before = self.binaries()
        try:
            target.write_bytes("".join(lines).encode("utf-8", "surrogateescape"))
            try:
                r = self.sh(["cmake", "--build", str(self.build)], timeout=900)
            except subprocess.TimeoutExpired:
                return "did not build", None
            if r.returncode:
                return "did not build", None
            after = self.binaries()
            rebuilt = {p for p, t in after.items() if before.get(p) != t}
            if all(self.digests.get(p) == digest(p) for p in rebuilt):
                # Same programs byte for byte: the compiler saw no difference, but
                # a test that reads the source itself (a header's numbers) may.
                readers = [n for n, args in self.reads.items() if os.path.realpath(target) in args]
                status, by = self.run_tests(readers, self.baseline + 60)
                return (status, by) if status != "passed" else ("survived", "identical binaries")
            limit = self.baseline * self.timeout_factor + 60
            # The cases that caught earlier mutants of this file go first: one
            # of them usually catches this one too, in a second or so.
            # A test that neither was rebuilt nor runs anything rebuilt gives
            # the unmutated result, which was a pass.
            wanted = [name for name, command in self.wanted(m.file) if self.could_notice(command, rebuilt)]
            likely = [n for n in self.killers.get(m.file, []) if n in wanted][:4]
            status, by = self.run_tests(likely, limit)
            if status == "passed":
                first = [n for n in self.covering(m.file, rebuilt) if n not in likely]
                status, by = self.run_tests(first, limit)
                if status == "passed":
                    done = set(first) | set(likely)
                    status, by = self.run_tests([n for n in wanted if n not in done], limit)
            if status == "killed" and by:
                known = self.killers.setdefault(m.file, [])
                if by in known:
                    known.remove(by)
                known.insert(0, by)
            return ("survived", None) if status == "passed" else (status, by)
        finally:
            target.write_bytes(original)
            self.end_strays()

    def end_strays(self):
        """Ends every process still running a program of the mutant tree: a
        mutant that loops forever in a program a test started outlives the
        test's time limit, and would eat a core of every later run."""
        build = str(self.build.resolve())
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                exe = os.readlink(entry / "exe")
            except OSError:
                continue
            if exe.startswith(build + "/"):
                try:
                    os.kill(int(entry.name), signal.SIGKILL)
                except OSError:
                    pass


def digest(path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha1").hexdigest() if hasattr(hashlib, "file_digest") \
            else hashlib.sha1(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("count", nargs="?", type=int, default=50, help="how many mutants (default 50)")
    parser.add_argument("seed", nargs="?", type=int, help="the draw's seed (default: a random one, printed)")
    parser.add_argument("--work", default=str(ROOT / "build-mutate"), help="private copy and build tree")
    parser.add_argument("--out", help="JSON lines, one a mutant (default WORK/mutants.jsonl)")
    parser.add_argument("--list", action="store_true", help="only count the sites by operator and file")
    parser.add_argument("--only", help="only sites in files whose path contains this text")
    parser.add_argument("--resume", action="store_true",
                        help="keep the records OUT already holds for this seed and try only the rest")
    parser.add_argument("--timeout-factor", type=float, default=3.0,
                        help="a test run may take this many times the unmutated suite (+60 s)")
    args = parser.parse_args()

    sites = all_mutants()
    if args.only:
        sites = [m for m in sites if args.only in m.file]
    if args.list:
        by_op = {}
        for m in sites:
            by_op[m.operator] = by_op.get(m.operator, 0) + 1
        for op, n in sorted(by_op.items()):
            print(f"{op:18} {n}")
        print(f"{'all':18} {len(sites)} in {len({m.file for m in sites})} files")
        return 0
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 31)
    chosen = random.Random(seed).sample(sites, min(args.count, len(sites)))
    work = Path(args.work).resolve()
    out = Path(args.out) if args.out else work / "mutants.jsonl"
    work.mkdir(parents=True, exist_ok=True)

    def log(text):
        print(f"mutate: {text}", flush=True)

    log(f"seed {seed}: {len(chosen)} of {len(sites)} sites")
    runner = Runner(work, args.timeout_factor, log)
    stopping = []

    def on_signal(signum, _frame):
        stopping.append(signum)
        raise KeyboardInterrupt

    # SIGINT too: a shell starts a background job with it ignored, and Python
    # then installs no handler of its own, so Ctrl-C or kill -INT would not stop it.
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    counts, survivors, done = {}, [], {}
    if args.resume and out.exists():
        for line in out.read_text(encoding="utf-8").splitlines():
            record = json.loads(line)
            if record.get("seed") == seed:
                done[(record["file"], record["line"], record["operator"], record["after"])] = record
    try:
        runner.prepare()
        with open(out, "w", encoding="utf-8") as sink:
            for index, m in enumerate(chosen, start=1):
                record = done.get((m.file, m.line, m.operator, m.after.rstrip("\n")))
                if record:
                    counts[record["status"]] = counts.get(record["status"], 0) + 1
                    sink.write(json.dumps(record) + "\n")
                    if record["status"] == "survived":
                        survivors.append(record)
                    continue
                began = time.monotonic()
                status, by = runner.try_mutant(m)
                counts[status] = counts.get(status, 0) + 1
                record = asdict(m) | {"before": m.before.rstrip("\n"), "after": m.after.rstrip("\n"),
                                      "status": status, "killed_by": by, "seed": seed,
                                      "seconds": round(time.monotonic() - began, 1)}
                sink.write(json.dumps(record) + "\n")
                sink.flush()
                if status == "survived":
                    survivors.append(record)
                log(f"[{index}/{len(chosen)}] {status:13} {m.file}:{m.line} {m.operator}"
                    + (f" ({by})" if by else ""))
    except KeyboardInterrupt:
        log("interrupted; the mutated file was restored")
    built = sum(n for s, n in counts.items() if s != "did not build")
    caught = counts.get("killed", 0) + counts.get("timed out", 0)
    print(f"\nseed {seed}: " + ", ".join(f"{n} {s}" for s, n in sorted(counts.items())))
    if built:
        print(f"score: {caught} of {built} mutants that built were caught ({100.0 * caught / built:.1f}%)")
    same = sum(1 for r in survivors if r["killed_by"] == "identical binaries")
    if same and built > same:
        print(f"{same} left every program byte for byte unchanged (equivalent); over the other "
              f"{built - same}: {100.0 * caught / (built - same):.1f}%")
    for r in survivors:
        print(f"survived: {r['file']}:{r['line']} {r['operator']}\n  - {r['before'].strip()}\n  + {r['after'].strip()}")
    print(f"details: {out}")
    return 130 if stopping else 0


if __name__ == "__main__":
    sys.exit(main())
