#!/usr/bin/env python3
"""Mutation run: plants one fault at a time in the product code, rebuilds,
runs the test suite and reports which faults no test noticed. By hand, not
in CI, under nice:

    nice -n 10 python3 scripts/mutate.py                 # 200 mutants, seed 1
    nice -n 10 python3 scripts/mutate.py --count 100 --minutes 60
    python3 scripts/mutate.py --list                     # the mutants only, nothing built
    nice -n 10 python3 scripts/mutate.py --ids 3f9a01c2  # just these mutants again
    python3 scripts/mutate.py --report                   # the last run's report again

Faults: relational and boolean operators, constants off by one (literals and
the named numeric constants), deleted statements (assignments and calls: state
set, controls enabled), adjacent statements swapped, one letter of a fixed
text, a control character for its neighbour. Only the .cpp files of the
product folders are mutated (a header change would rebuild everything), not
app/main.cpp (in no test) nor the drawn logo and layout numbers.

Mutants are drawn by seed, each by its own id, and run in draw order, so a
run stopped early (Ctrl-C, --minutes) is a fair sample of the whole. The
build is its own (build-mutate/, -O1, the three product libraries shared and
programs not relinked when they change): a mutant costs one compile and one
library link; the unmutated object is put back afterwards. Tests run
directly, with a per-test timeout, those that killed mutants of the same file
first; the first failure kills the mutant. The source is restored whatever
happens (a run killed hard is repaired by the next one).

Survivors judged equivalent (no observable behaviour changes) are listed in
scripts/mutate-equivalent.txt, by id with the reason, one a line; they are
reported apart from the score.
"""
import argparse, collections, difflib, hashlib, json, os, re, shutil, signal, subprocess, sys, time

FOLDERS = ["app", "session", "serial", "modes", "exchange", "cmdtable", "loops", "plan", "sim"]
SKIP = {"app/main.cpp", "app/Logo.cpp", "app/docs-art.cpp"}
# Sizes and places of widgets: numbers no behaviour depends on.
LAYOUT = re.compile(r"\b(add(Widget|Layout|Stretch|Spacing)|set(Spacing|ContentsMargins|Minimum\w*|Maximum\w*|Fixed\w*|"
                    r"Geometry|ColumnStretch|RowStretch|PointSize\w*|PixelSize)|resize|move|QSizeF?|QRectF?|QPointF?)\b")
KEYWORDS = {"return", "break", "continue", "const", "auto", "static", "using", "typedef", "case", "default",
            "goto", "for", "if", "while", "else", "do", "switch", "delete", "new", "constexpr", "struct",
            "class", "enum", "namespace", "template", "Q_UNUSED", "Q_OBJECT", "emit", "public", "private"}
RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
CONTROL = {"STX": "ETX", "ETX": "STX", "EOT": "ENQ", "ENQ": "EOT", "ACK": "NAK", "NAK": "ACK",
           "LF": "CR", "CR": "LF", "XON": "XOFF", "XOFF": "XON", "DLE": "XON"}
ESCAPES = {"\\r": "\\n", "\\n": "\\r", "\\t": "\\n"}
SHARED_CMAKE = """# Written by scripts/mutate.py: the project's libraries shared in this build
# only, so that a mutant relinks one library and no program.
function(add_library name)
  set(args ${ARGN})
  if(name STREQUAL "ornacore" OR name STREQUAL "ornaline" OR name STREQUAL "ornasim" OR name STREQUAL "ornaplan")
    list(REMOVE_ITEM args STATIC)
    _add_library(${name} SHARED ${args})
  else()
    _add_library(${name} ${args})
  endif()
endfunction()
"""


class Mutant:
    def __init__(self, path, line, op, old, new, col, nth):
        self.path, self.line, self.op, self.old, self.new = path, line, op, old, new
        self.col = col
        # Stable across edits elsewhere: the file, the line's text (and which
        # of its identical lines), the operator and what it changes.
        key = "|".join([path, op, old.strip(), new.strip(), str(nth), str(col)])
        self.id = hashlib.sha1(key.encode()).hexdigest()[:8]
        self.folder = path.split("/")[0]

    def describe(self):
        return "%s:%d  %s" % (self.path, self.line, self.op)


def mask(text):
    """The text with comments, string and character literals and preprocessor
    lines blanked, plus the spans of string and character literals."""
    out, literals, i, n = list(text), [], 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                out[k] = " "
            i = j
            continue
        if c == "\n":
            line_start = True
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                out[k] = " "
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2) + 2
            for k in range(i, j):
                if out[k] != "\n":
                    out[k] = " "
            i = j
        elif c == "'" and re.search(r"(?<![\w.])\d[\w']*$", text[max(0, i - 40):i]):
            i += 1  # digit separator (u'-' and L'x' are literals)
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            literals.append((i, j + 1))
            for k in range(i + 1, j):
                out[k] = " "
            i = j + 1
        else:
            i += 1
    return "".join(out), literals


def is_statement(code, prev):
    """A single-line expression statement: an assignment, increment or call."""
    s = code.strip()
    if not s.endswith(";") or s.count("(") != s.count(")") or "{" in s or "}" in s or s.count(";") != 1:
        return False
    if not prev.rstrip().endswith((";", "{", "}", ")", "else", ":")) and prev.strip():
        return False
    word = re.match(r"[A-Za-z_]\w*", s)
    if not word or word.group(0) in KEYWORDS:
        return False
    return bool(re.match(r"[\w.:\->\[\]()*]+\s*([-+*/|&]?=)\s", s) or re.match(r"(\+\+|--)?[\w.\->]+(\+\+|--)?;$", s)
                or re.match(r"[\w:]+((->|\.|::)[\w]+)*\(.*\)\s*;$", s))


def related(a, b):
    """Whether the order of two statements can matter: one works on what the
    other names (the same object, or a variable the other reads)."""
    first = lambda s: re.match(r"\s*(?:\+\+|--)?([A-Za-z_]\w*)", s).group(1)
    names = lambda s: set(re.findall(r"[A-Za-z_]\w*", s))
    return first(a) == first(b) or first(a) in names(b) or first(b) in names(a)


def numeric_constants(root):
    """Names of the numeric constants the product declares (kReplyPollLimit...)."""
    names = set()
    for folder in FOLDERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for f in files:
                text = open(os.path.join(dirpath, f), encoding="utf-8", errors="replace").read()
                names.update(re.findall(r"constexpr\s+(?:int|qint64|qsizetype|double|long|unsigned)\s+(\w+)\s*=", text))
    return names


def mutants_of(root, path, constants=()):
    text = open(os.path.join(root, path), encoding="utf-8").read()
    lines = text.split("\n")
    masked, literals = mask(text)
    mlines = masked.split("\n")
    starts, pos = [], 0
    for l in lines:
        starts.append(pos)
        pos += len(l) + 1
    seen = collections.Counter()
    out = []

    def add(i, op, new, col):
        key = (lines[i].strip(), op, col)
        seen[key] += 1
        out.append(Mutant(path, i + 1, op, lines[i], new, col, seen[key]))

    def sub(i, a, b, old, new):
        return lines[i][:a] + new + lines[i][b:]

    prev = ""
    for i, (line, code) in enumerate(zip(lines, mlines)):
        for m in re.finditer(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)", code):
            add(i, "relational %s -> %s" % (m.group(1), RELATIONAL[m.group(1)]),
                sub(i, m.start(1), m.end(1), m.group(1), RELATIONAL[m.group(1)]), m.start())
        for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", code):
            other = "||" if m.group(1) == "&&" else "&&"
            add(i, "boolean %s -> %s" % (m.group(1), other), sub(i, m.start(1), m.end(1), m.group(1), other), m.start())
        for m in re.finditer(r"!(?=[\w(])", code):
            add(i, "boolean ! removed", sub(i, m.start(), m.end(), "!", ""), m.start())
        for m in re.finditer(r"\b(true|false)\b", code):
            other = "false" if m.group(1) == "true" else "true"
            add(i, "boolean %s -> %s" % (m.group(1), other), sub(i, m.start(), m.end(), m.group(1), other), m.start())
        if "constexpr" not in code and "enum" not in code:
            for m in [] if LAYOUT.search(code) else re.finditer(r"(?<![\w.'])(0x[0-9A-Fa-f]+|\d+)(?![\w.'])", code):
                if re.match(r"0\d", m.group(1)):
                    continue  # octal
                v = int(m.group(1), 0)
                for d in (1, -1):
                    if v + d < 0:
                        continue
                    nv = hex(v + d) if m.group(1).startswith("0x") else str(v + d)
                    add(i, "constant %s -> %s" % (m.group(1), nv), sub(i, m.start(), m.end(), m.group(1), nv), m.start())
            for m in re.finditer(r"\b(\w+)\b", code):
                if m.group(1) in constants and code[m.end():].lstrip()[:1] not in ("(", "="):
                    for d in ("+", "-"):
                        new = "(%s %s 1)" % (m.group(1), d)
                        add(i, "constant %s -> %s" % (m.group(1), new), sub(i, m.start(), m.end(), "", new), m.start())
            for m in re.finditer(r"\b(?:Ctl::)?(STX|ETX|EOT|ENQ|ACK|LF|CR|DLE|XON|XOFF|NAK)\b", code):
                add(i, "control %s -> %s" % (m.group(1), CONTROL[m.group(1)]),
                    sub(i, m.start(1), m.end(1), m.group(1), CONTROL[m.group(1)]), m.start())
        if is_statement(code, prev):
            indent = line[:len(line) - len(line.lstrip())]
            add(i, "statement deleted", indent + "{} // deleted: " + line.strip(), 0)
            nxt = mlines[i + 1] if i + 1 < len(mlines) else ""
            if (is_statement(nxt, code) and lines[i + 1].startswith(indent) and not lines[i + 1].startswith(indent + " ")
                    and lines[i + 1].strip() != line.strip() and related(code, nxt)):
                add(i, "statements swapped", lines[i + 1] + "\n" + line, 0)
        if code.strip():
            prev = code
    # Fixed texts and control characters inside literals.
    for a, b in literals:
        i = text.count("\n", 0, a)
        if "#" in mlines[i][:1] or lines[i].lstrip().startswith("#"):
            continue
        col_a, col_b = a - starts[i], b - starts[i]
        body = lines[i][col_a + 1:col_b - 1]
        for m in re.finditer(r"\\x([0-9A-Fa-f]{2})|\\[rnt]", body):
            if m.group(1) is not None:
                v = int(m.group(1), 16)
                if v >= 0x20:
                    continue
                rep = "\\x%02x" % (v + 1)
            else:
                rep = ESCAPES[m.group(0)]
            k = col_a + 1 + m.start()
            add(i, "control %s -> %s" % (m.group(0), rep), lines[i][:k] + rep + lines[i][k + len(m.group(0)):], k)
        # One letter of the text (the middle one), away from escapes.
        plain = [k for k, ch in enumerate(body) if ch.isalpha() and (k == 0 or body[k - 1] != "\\")
                 and not re.match(r"\\x[0-9A-Fa-f]?$", body[max(0, k - 3):k])]
        if lines[i][:col_a].rstrip().endswith(("include", "extern")) or not plain:
            continue
        k = plain[len(plain) // 2]
        ch = body[k]
        base = "a" if ch.islower() else "A"
        if not ("a" <= ch.lower() <= "z"):
            continue
        rep = chr((ord(ch) - ord(base) + 1) % 26 + ord(base))
        col = col_a + 1 + k
        add(i, "text %r -> %r" % (body, body[:k] + rep + body[k + 1:]), lines[i][:col] + rep + lines[i][col + 1:], col)
    return out


def all_mutants(root):
    found, constants = [], numeric_constants(root)
    for folder in FOLDERS:
        for dirpath, _, files in sorted(os.walk(os.path.join(root, folder))):
            for f in sorted(files):
                path = os.path.relpath(os.path.join(dirpath, f), root)
                if f.endswith(".cpp") and path not in SKIP:
                    found += mutants_of(root, path, constants)
    return found


def pick(mutants, seed, count, ids):
    if ids:  # in the order given
        return sorted((m for m in mutants if m.id in ids), key=lambda m: ids.index(m.id))
    # Each mutant's own draw, so that code added elsewhere changes the sample little.
    score = lambda m: hashlib.sha1(("%d:%s" % (seed, m.id)).encode()).hexdigest()
    return sorted(mutants, key=score)[:count]  # in draw order: a run stopped early is still a fair sample


def run(cmd, **kw):
    """Runs a command in its own process group; an interrupt ends the whole
    group (no compiler goes on writing an object file after a restore)."""
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True, **kw)
    try:
        out, _ = p.communicate()
    except BaseException:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        raise
    return subprocess.CompletedProcess(cmd, p.returncode, out)


class Suite:
    def __init__(self, build, jobs):
        self.build, self.jobs = build, jobs
        info = json.loads(run(["ctest", "--show-only=json-v1"], cwd=build).stdout)
        self.tests = []
        for t in info["tests"]:
            env = dict(os.environ)
            for p in t.get("properties", []):
                if p["name"] == "ENVIRONMENT":
                    env.update(kv.split("=", 1) for kv in p["value"])
            self.tests.append({"name": t["name"], "cmd": t["command"], "env": env, "secs": 1.0})

    def run(self, order, timeout_of):
        """Runs the tests in order, `jobs` at a time; the first failing test name, or None."""
        queue, running = list(order), []
        failed = None
        try:
            while (queue or running) and not failed:
                while queue and len(running) < self.jobs:
                    t = queue.pop(0)
                    p = subprocess.Popen(t["cmd"], env=t["env"], cwd=self.build, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, start_new_session=True)
                    running.append((t, p, time.time()))
                time.sleep(0.02)
                for entry in list(running):
                    t, p, start = entry
                    if p.poll() is None and time.time() - start > timeout_of(t):
                        os.killpg(p.pid, signal.SIGKILL)
                        p.wait()
                        failed = t["name"] + " (timeout)"
                    elif p.returncode is not None:
                        running.remove(entry)
                        t["last"] = time.time() - start
                        if p.returncode != 0:
                            failed = t["name"]
        finally:
            for t, p, _ in running:
                if p.poll() is None:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
        return failed


def restore_pending(backup):
    if os.path.exists(backup):
        state = json.load(open(backup))
        open(state["path"], "w", encoding="utf-8").write(state["text"])  # new time: it is compiled again
        os.remove(backup)
        print("restored %s from an interrupted run" % state["path"])


class Objects:
    """The unmutated object files, kept aside: restoring a source puts its
    object back (both with their old times) instead of compiling it again,
    and removes the library or program it went into, which the next build
    relinks. Only the targets a mutant touches are built (not every target's
    code generation steps)."""

    def __init__(self, root, build):
        self.root, self.build, self.keep = root, build, os.path.join(build, "mutate-objects")
        self.of = collections.defaultdict(list)  # source path -> [(object, kept copy, target output files)]
        self.target = {}  # source path -> the target it is built into
        self.stale = set()  # targets whose output was removed
        top = os.path.join(build, "CMakeFiles")
        for target in os.listdir(top):
            if not target.endswith(".dir"):
                continue
            name = target[:-4]
            outputs = [os.path.join(build, f) for f in ("lib%s.so" % name, "lib%s.a" % name, name)]
            for dirpath, _, files in os.walk(os.path.join(top, target)):
                for f in files:
                    if f.endswith(".cpp.o"):
                        obj = os.path.join(dirpath, f)
                        source = os.path.relpath(obj, os.path.join(top, target))[:-2]
                        kept = os.path.join(self.keep, target, source + ".o")
                        os.makedirs(os.path.dirname(kept), exist_ok=True)
                        shutil.copy2(obj, kept)
                        self.of[source].append((obj, kept, outputs))
                        self.target[source] = name

    def targets(self, path):
        return sorted(self.stale | {self.target[path]})

    def restore(self, path, text, stat):
        full = os.path.join(self.root, path)
        open(full, "w", encoding="utf-8").write(text)
        os.utime(full, ns=(stat.st_atime_ns, stat.st_mtime_ns))
        for obj, kept, outputs in self.of[path]:
            shutil.copy2(kept, obj)
            for out in outputs:
                if os.path.isfile(out):
                    os.remove(out)
        self.stale.add(self.target[path])


def report(results, judged, out):
    """judged: id -> "equivalent" (no observable change) or "open" (a change
    nothing fixes and no test looks at, on purpose)."""
    rows = collections.OrderedDict((f, collections.Counter()) for f in FOLDERS)
    for r in results:
        verdict = r["verdict"]
        if verdict == "survived" and r["id"] in judged:
            verdict = judged[r["id"]]
        rows[r["folder"]][verdict] += 1
        rows[r["folder"]]["all"] += 1
    total = collections.Counter()
    head = ("folder", "mutants", "killed", "survived", "open", "equivalent", "stillborn", "score")
    lines = ["%-10s %7s %7s %9s %5s %11s %10s %7s" % head]
    for folder, c in list(rows.items()) + [("all", None)]:
        if c is None:
            c = total
        else:
            total.update(c)
        counted = c["killed"] + c["survived"] + c["open"]
        score = "%5.1f %%" % (100.0 * c["killed"] / counted) if counted else "    -"
        lines.append("%-10s %7d %7d %9d %5d %11d %10d %7s" % (folder, c["all"], c["killed"], c["survived"], c["open"],
                                                              c["equivalent"], c["stillborn"], score))
    lines.append("score = killed / (killed + survived + open); equivalent and stillborn (does not compile) apart")
    survivors = [r for r in results if r["verdict"] == "survived" and r["id"] not in judged]
    lines.append("")
    lines.append("%d survivor(s) not judged:" % len(survivors))
    for r in survivors:
        lines.append("")
        lines.append("%s  %s:%d  %s" % (r["id"], r["path"], r["line"], r["op"]))
        lines += ["    " + d for d in r["diff"]]
    print("\n".join(lines), file=out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--ids", nargs="*", help="run only these mutant ids")
    ap.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                    help="source tree (default: this checkout)")
    ap.add_argument("--build", help="build directory (default: ROOT/build-mutate)")
    ap.add_argument("--equivalent", help="file of judged survivors (default: ROOT/scripts/mutate-equivalent.txt)")
    ap.add_argument("--jobs", type=int, default=2, help="build jobs and tests at once (default 2)")
    ap.add_argument("--minutes", type=float, help="start no mutant after this many minutes")
    ap.add_argument("--resume", action="store_true", help="keep the verdicts of the last run's mutants")
    ap.add_argument("--list", action="store_true", help="list the chosen mutants and stop")
    ap.add_argument("--report", action="store_true", help="print the last run's report and stop")
    args = ap.parse_args()
    begun = time.time()
    root = os.path.abspath(args.root)
    build = os.path.abspath(args.build or os.path.join(root, "build-mutate"))
    eq_file = args.equivalent or os.path.join(root, "scripts", "mutate-equivalent.txt")
    equivalent = {}  # id -> "equivalent" or "open"
    if os.path.exists(eq_file):
        equivalent = {l.split()[0]: l.split()[1] for l in open(eq_file) if l.strip() and not l.startswith("#")}
    results_file = os.path.join(build, "mutate-results.json")
    mutants = all_mutants(root)
    chosen = pick(mutants, args.seed, args.count, args.ids or [])
    if args.report:  # the last run's verdicts on the mutants chosen now (a smaller --count: the first of them)
        ids = {m.id for m in chosen}
        report([r for r in json.load(open(results_file)) if r["id"] in ids], equivalent, sys.stdout)
        return 0
    print("%d candidate mutants, %d chosen (seed %d)" % (len(mutants), len(chosen), args.seed))
    if args.list:
        for m in chosen:
            print("%s  %s" % (m.id, m.describe()))
        return 0

    if os.nice(0) < 10:
        os.nice(10 - os.nice(0))
    os.makedirs(build, exist_ok=True)
    backup = os.path.join(build, "restore-me.json")
    restore_pending(backup)
    # Ctrl-C, kill and a closed terminal all end the run the same way (SIGINT
    # too when started in the background, where the shell ignores it).
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, signal.default_int_handler)
    shared = os.path.join(build, "shared-libs.cmake")
    open(shared, "w").write(SHARED_CMAKE)
    cfg = run(["cmake", "-S", root, "-B", build, "-DCMAKE_BUILD_TYPE=", "-DCMAKE_CXX_FLAGS=-O1",
               "-DCMAKE_PROJECT_INCLUDE=" + shared, "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"])
    build_cmd = ["cmake", "--build", build, "-j%d" % args.jobs]
    print("building the unmutated tree in %s ..." % build, flush=True)
    b = run(build_cmd)
    if cfg.returncode or b.returncode:
        print(cfg.stdout[-3000:] + b.stdout[-3000:])
        return 2
    # As scripts/test.sh runs it: as root, with an unprivileged account for
    # the serial tests that open a device as a user without rights.
    if os.geteuid() == 0 and not os.environ.get("ORNA_TEST_USER"):
        user = run([os.path.join(root, "scripts", "unprivileged-user.sh")]).stdout.strip()
        if user:
            os.environ["ORNA_TEST_USER"] = user
    suite = Suite(build, args.jobs)
    t0 = time.time()
    if suite.run(suite.tests, lambda t: 600):
        print("the unmutated suite fails; fix that first")
        return 2
    for t in suite.tests:
        t["secs"] = t.get("last", 1.0)
    print("suite: %d tests, %.0f s unmutated" % (len(suite.tests), time.time() - t0), flush=True)
    timeout_of = lambda t: max(60.0, 5 * t["secs"])

    objects = Objects(root, build)
    kills = collections.defaultdict(collections.Counter)  # path or folder -> test -> kills
    results, earlier = [], {}  # earlier: the verdicts on file, kept for the mutants not run now
    if os.path.exists(results_file):
        earlier = {r["id"]: r for r in json.load(open(results_file))}
    try:
        for n, m in enumerate(chosen, 1):
            if args.minutes and time.time() - begun > 60 * args.minutes:
                print("time is up after %d mutants" % (n - 1))
                break
            if args.resume and m.id in earlier:
                results.append(earlier[m.id])
                continue
            path = os.path.join(root, m.path)
            original = open(path, encoding="utf-8").read()
            stat = os.stat(path)
            lines = original.split("\n")
            if lines[m.line - 1] != m.old:
                raise SystemExit("%s changed while the run was going on" % m.path)
            mutated = lines[:m.line - 1] + m.new.split("\n") + lines[m.line + (1 if "swapped" in m.op else 0):]
            diff = [l.rstrip("\n") for l in difflib.unified_diff(lines, mutated, lineterm="", n=0)][2:]
            started = time.time()
            json.dump({"path": path, "text": original}, open(backup, "w"))
            try:
                open(path, "w", encoding="utf-8").write("\n".join(mutated))
                targets = objects.targets(m.path)
                built = run(build_cmd + ["--target"] + targets).returncode == 0
                if built:
                    objects.stale -= set(targets)
                failed = None
                if built:
                    order = sorted(suite.tests, key=lambda t: (-kills[m.path][t["name"]], -kills[m.folder][t["name"]],
                                                              t["secs"]))
                    failed = suite.run(order, timeout_of)
            finally:
                objects.restore(m.path, original, stat)
                os.remove(backup)
            verdict = "stillborn" if not built else "killed" if failed else "survived"
            if failed:
                name = failed.split()[0]
                kills[m.path][name] += 1
                kills[m.folder][name] += 1
            if verdict == "survived" and m.id in equivalent:
                shown = "survived, judged " + equivalent[m.id]
            else:
                shown = verdict + (" by " + failed if failed else "")
            print("[%3d/%d] %s  %-60s %s (%.0f s)" % (n, len(chosen), m.id, m.describe()[:60], shown,
                                                     time.time() - started), flush=True)
            results.append({"id": m.id, "path": m.path, "line": m.line, "folder": m.folder, "op": m.op,
                            "verdict": verdict, "by": failed, "diff": diff})
    except KeyboardInterrupt:
        print("\ninterrupted; the source is restored; report of the mutants run so far:")
    finally:
        run(build_cmd)  # leave the build matching the restored source
    print("%d mutants in %.0f minutes" % (len(results), (time.time() - begun) / 60))
    done = {r["id"] for r in results}
    json.dump(results + [r for r in earlier.values() if r["id"] not in done], open(results_file, "w"), indent=1)
    print()
    report(results, equivalent, sys.stdout)
    with open(os.path.join(build, "mutate-report.txt"), "w") as out:
        print("seed %d, %d mutants chosen, %d run\n" % (args.seed, len(chosen), len(results)), file=out)
        report(results, equivalent, out)
    print("report written to %s" % os.path.join(build, "mutate-report.txt"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
