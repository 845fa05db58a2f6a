"""Short expressions as a new user would type them: a seeded random fuzz of exact expression texts.

Generates --count distinct texts of at most 30 characters (integers, decimals, + - * / ^, unary
minus, parentheses, sqrt) and, before them, the fixed cases below. Each text is evaluated, then its
sign and its float are asked for; a comparison case evaluates two texts and compares them, twice.
The work runs in a pool of child processes, one text at a time each; a text that passes --timeout
seconds of CPU time (or three times as much wall time) has its child killed and replaced. Each
child's address space is limited to --memory GiB, so that a runaway text ends in MemoryError
instead of exhausting the machine. Times are the child's CPU time for the gyrelle calls (the
machine is shared, so CPU time is steadier than wall time); a killed text counts as --timeout.

With mpmath installed (it is for /usr/bin/python3), every value is also computed by an independent
evaluator at two working precisions; where the two agree, gyrelle's float (nearest double) and sign
are compared with it. Exact zeros and results whose exponent is not known to be rational are skipped.

Prints a summary: how many texts end within 1 s with a value or an ordinary error, how many pass 1 s
and 5 s, the slowest texts with the phase their time went to, the fixed cases, and the oracle's
count. --out writes one JSON line per text for further study.

Run from the repository root after scripts/build:
    /usr/bin/python3 bench/short_expressions.py [--count 30000] [--seed 1] [--timeout 10] [--jobs 8]
    (--root DIR imports DIR/gyrelle instead, to compare two builds; --texts FILE runs given texts)
"""
import argparse
import json
import os
import random
import selectors
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAX_LEN = 30

# Fixed cases: one text, or two texts with the comparisons to make of them and their answers.
FIXED = [
    ("11^0.01-2/sqrt(4543416)",),
    ("11^0.01+sqrt(2)",),
    ("(0.5^0.01)/sqrt(493)",),
    ("(sqrt(15152))/11^0.01",),
    ("sqrt(2)-690^((18.7))",),
    ("7^0.01/sqrt(10.95)",),
    ("sqrt(sqrt(5322214790)*4^0.01)",),
    ("8214792632643^(6/5)/146^0.05",),
    ("((sqrt(69377857926))-11^0.01)",),
    ("(349^(3^9)-sqrt(16.7))^(2/5)",),
    ("((1.451)/sqrt(3))^(4.2^6)",),
    ("(((747^3)^0.01)^409)^(330^3)",),
    ("(sqrt(2)-1)^110000",),
    ("(2^(1/256))^32", "2^(1/8)+(sqrt(2)-1)^12000", [("<", True)]),
    ("3^0.01*sqrt(5)", "sqrt(sqrt(7))", [("<", False)]),
    ("sqrt(5)", "371^0.01-sqrt(1/10)", [("<", False)]),
    ("(2^(1/64))^8*(3^(1/3))", "2^(1/8)*cbrt(3)", [("==", True), ("<", False)]),
]

# ---- Generator ---------------------------------------------------------------------------------

# Printed levels: 0 a primary (number, parentheses, call), 2 a power or negation, 4 a product, 6 a sum.


def number(rng):
    r = rng.random()
    if r < 0.7:
        digits = rng.choices([1, 2, 3, 4, 5, 6, 7, 8, 10, 13], [30, 18, 18, 8, 4, 3, 2, 2, 2, 2])[0]
        low = 0 if digits == 1 else 10 ** (digits - 1)
        return str(rng.randint(low, 10**digits - 1))
    whole = rng.choice([0, 0, 0, rng.randint(1, 9), rng.randint(10, 999)])
    places = rng.choices([1, 2, 3], [5, 4, 1])[0]
    return f"{whole}.{rng.randint(0, 10**places - 1):0{places}d}"


def wrap(text, level, allowed, rng):
    """The text as an operand of a context that takes levels up to `allowed`, sometimes wrapped."""
    if level > allowed or rng.random() < 0.08:
        return f"({text})", 0
    return text, level


def exponent(rng, depth):
    r = rng.random()
    if r < 0.25:
        return str(rng.randint(2, 20)), 0
    if r < 0.5:
        return rng.choice(["0.01", "0.05", "0.5", "0.25", "0.1", "1.5", number(rng)]), 0
    if r < 0.7:
        return f"({rng.randint(1, 9)}/{rng.randint(2, 12)})", 0
    if r < 0.8:
        return f"{rng.randint(2, 999)}^{rng.randint(2, 9)}", 2
    return expression(rng, depth + 1)


def expression(rng, depth=0):
    if depth >= 4 or rng.random() < 0.18 + 0.16 * depth:
        return number(rng), 0
    r = rng.random()
    if r < 0.45:
        op = rng.choice("+-*/")
        own = 6 if op in "+-" else 4
        left, ll = expression(rng, depth + 1)
        right, rl = expression(rng, depth + 1)
        left, _ = wrap(left, ll, own, rng)
        right, _ = wrap(right, rl, own - 1, rng)
        return f"{left}{op}{right}", own
    if r < 0.75:
        base, bl = expression(rng, depth + 1)
        base, _ = wrap(base, bl, 0, rng)
        exp, el = exponent(rng, depth)
        exp, _ = wrap(exp, el, 2, rng)
        return f"{base}^{exp}", 2
    if r < 0.92:
        arg, _ = expression(rng, depth + 1)
        return f"sqrt({arg})", 0
    if r < 0.96:
        arg, al = expression(rng, depth + 1)
        arg, _ = wrap(arg, al, 2, rng)
        return f"-{arg}", 2
    arg, _ = expression(rng, depth + 1)
    return f"({arg})", 0


def generate(count, seed):
    rng = random.Random(seed)
    seen = set()
    texts = []
    while len(texts) < count:
        text, _ = expression(rng)
        if len(text) <= MAX_LEN and text not in seen:
            seen.add(text)
            texts.append(text)
    return texts


# ---- Child process -----------------------------------------------------------------------------

WORKER = r"""
import json, re, resource, sys, time
if float(sys.argv[3]) > 0:
    limit = int(float(sys.argv[3]) * 2**30)
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
sys.path.insert(0, sys.argv[1])
sys.set_int_max_str_digits(0)
import gyrelle._native as g
sys.path.insert(0, sys.argv[2])
import short_expressions as bench

def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()

SUPERSCRIPT = str.maketrans("⁰¹²³⁴⁵⁶⁷⁸⁹", "0123456789")

def degree(r):
    text = r.field
    text = text[: text.rfind(" in [")]
    found = [int(m.translate(SUPERSCRIPT)) for m in re.findall(r"x([⁰¹²³⁴⁵⁶⁷⁸⁹]+)", text)]
    return max(found) if found else 1

OPS = {"<": lambda a, b: a < b, "==": lambda a, b: a == b}

for line in sys.stdin:
    case = json.loads(line)
    texts, comparisons = case["texts"], case.get("comparisons")
    times, out = {}, {}
    phase = None
    try:
        def step(name, work):
            global phase
            phase = name
            emit({"phase": name})
            t = time.process_time()
            try:
                return work()
            finally:
                times[name] = time.process_time() - t
        values = [step("evaluate" if i == 0 else "evaluate2", lambda t=t: g.evaluate(t)) for i, t in enumerate(texts)]
        if comparisons:
            out["compare"] = []
            for op, _ in comparisons:
                first = step(f"{op} first", lambda op=op: OPS[op](*values))
                again = step(f"{op} again", lambda op=op: OPS[op](*values))
                out["compare"].append([first, again])
        else:
            r = values[0]
            out["sign"] = step("sign", r.sign)
            f = step("float", lambda: float(r))
            out["float"] = f if f == f and abs(f) != float("inf") else repr(f)
            out["degree"] = degree(r)
        out["ok"] = True
    except BaseException as e:
        if isinstance(e, KeyboardInterrupt):
            raise
        out = {"ok": False, "phase": phase, "error": type(e).__name__, "message": str(e)[:300]}
    out["times"] = times
    emit({"result": out})
    if case.get("oracle") and out.get("ok") and not comparisons:
        emit({"phase": "oracle"})
        emit({"oracle": bench.check(texts[0], out)})
    emit({"done": True})
"""


TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """The CPU time a process has used, from /proc (0 once it is gone)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS
    except (OSError, IndexError, ValueError):
        return 0.0


class Worker:
    def __init__(self, args):
        self.proc = subprocess.Popen(
            [sys.executable, "-c", WORKER, args.root, os.path.dirname(os.path.abspath(__file__)), str(args.memory)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.case = None
        self.buffer = ""

    def restart_clock(self, timeout):
        """The time limit starts again: --timeout of CPU time, or three times as much wall time."""
        self.cpu = cpu_seconds(self.proc.pid)
        self.deadline = time.monotonic() + 3 * timeout

    def over(self, timeout):
        return time.monotonic() > self.deadline or cpu_seconds(self.proc.pid) - self.cpu > timeout

    def send(self, case, timeout):
        self.case = case
        self.case["started"] = time.monotonic()
        self.restart_clock(timeout)
        self.proc.stdin.write(json.dumps({k: case[k] for k in ("texts", "comparisons", "oracle") if k in case}) + "\n")
        self.proc.stdin.flush()

    def kill(self):
        self.proc.kill()
        self.proc.wait()


def run_all(cases, args):
    sel = selectors.DefaultSelector()
    workers = []
    pending = list(reversed(cases))
    done = 0

    def start():
        w = Worker(args)
        sel.register(w.proc.stdout, selectors.EVENT_READ, w)
        workers.append(w)
        return w

    def feed(w):
        if pending:
            w.send(pending.pop(), args.timeout)

    def retire(w, outcome):
        nonlocal done
        c = w.case
        if c is None:
            pass
        elif "result" not in c:
            c["result"] = {"ok": False, "phase": c.get("phase"), "error": outcome, "message": "",
                           "times": {c.get("phase") or "start": args.timeout}}
        elif outcome == "timeout":
            c["oracle_result"] = {"status": "skipped", "why": "oracle timed out"}
        sel.unregister(w.proc.stdout)
        w.kill()
        workers.remove(w)
        done += c is not None
        feed(start())

    for _ in range(min(args.jobs, len(cases))):
        feed(start())
    last_report = time.monotonic()
    while any(w.case is not None for w in workers):
        for key, _ in sel.select(timeout=0.25):
            w = key.data
            if w not in workers:
                continue
            chunk = os.read(w.proc.stdout.fileno(), 1 << 16).decode()
            if not chunk:
                retire(w, "worker died")
                continue
            w.buffer += chunk
            while "\n" in w.buffer and w in workers:
                line, w.buffer = w.buffer.split("\n", 1)
                msg = json.loads(line)
                c = w.case
                if "phase" in msg:
                    c["phase"] = msg["phase"]
                    if msg["phase"] == "oracle":
                        w.restart_clock(args.timeout)
                elif "result" in msg:
                    c["result"] = msg["result"]
                    c["wall"] = time.monotonic() - c["started"]
                elif "oracle" in msg:
                    c["oracle_result"] = msg["oracle"]
                elif "done" in msg:
                    w.case = None
                    done += 1
                    feed(w)
        now = time.monotonic()
        for w in [w for w in workers if w.case is not None and w.over(args.timeout)]:
            retire(w, "timeout")
        if args.progress and now - last_report > 10:
            last_report = now
            print(f"  {done}/{len(cases)} done", file=sys.stderr, flush=True)
    for w in workers:
        w.proc.stdin.close()
        w.proc.wait()


# ---- Oracle ------------------------------------------------------------------------------------
# An evaluator of the same grammar over mpmath, carrying each value's exact rational form where it
# is known to be rational (so that exponents are checked as gyrelle checks them).


class Unknown(Exception):
    """The oracle cannot decide this text."""


class Refused(Exception):
    """The text has no value (an error gyrelle should report too)."""


def tokens(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c.isspace():
            i += 1
        elif c in "()+-*/^":
            out.append(c)
            i += 1
        elif c.isdigit():
            j = i
            while j < len(text) and text[j].isdigit():
                j += 1
            if j + 1 < len(text) and text[j] == "." and text[j + 1].isdigit():
                j += 1
                while j < len(text) and text[j].isdigit():
                    j += 1
            out.append(("num", text[i:j]))
            i = j
        elif c.isalpha():
            j = i
            while j < len(text) and (text[j].isalnum() or text[j] == "_"):
                j += 1
            out.append(("name", text[i:j]))
            i = j
        else:
            raise Unknown(text)
    return out


def oracle_value(text, mp):
    """(exact Fraction or None, mpf) of the text at mp's working precision."""
    from fractions import Fraction

    toks = tokens(text)
    pos = [0]

    def peek():
        return toks[pos[0]] if pos[0] < len(toks) else None

    def tiny(q, v):
        # An irrational value this close to zero may be an exact zero that rounding hides.
        return q is None and abs(v) < mp.mpf(10) ** (-(mp.dps // 2))

    def bits(q):
        return max(abs(q.numerator).bit_length(), q.denominator.bit_length())

    def power(base, exp):
        (bq, bv), (eq, _) = base, exp
        if eq is None:
            raise Unknown("exponent not known to be rational")
        p, q = eq.numerator, eq.denominator
        if p < 0:
            raise Refused("negative exponent")
        if q != 1 and tiny(bq, bv):
            raise Unknown("base near zero")
        if bv < 0 and q != 1:
            raise Refused("negative base")
        if abs(p) > 1 << 40:
            raise Unknown("huge exponent")
        exact = None
        if bq is not None and bits(bq) * p < 1 << 17:
            r = bq**p
            if q == 1:
                exact = r
            else:
                n, d = mp.root(abs(r.numerator), q), mp.root(r.denominator, q)
                rn, rd = int(mp.nint(n)), int(mp.nint(d))
                if rn**q == abs(r.numerator) and rd**q == r.denominator:
                    exact = Fraction(rn if r >= 0 else -rn, rd)
        if p == 0:
            return Fraction(1), mp.mpf(1)
        value = mp.power(bv, p) if q == 1 else mp.root(mp.power(bv, p), q)
        return exact, value

    def unary():
        t = peek()
        if t == "-":
            pos[0] += 1
            q, v = unary()
            return (-q if q is not None else None), -v
        if t == "(":
            pos[0] += 1
            value = total()
            pos[0] += 1
        elif isinstance(t, tuple) and t[0] == "num":
            pos[0] += 1
            q = Fraction(t[1])
            value = (q, mp.mpf(q.numerator) / q.denominator)
        elif isinstance(t, tuple) and t[1] == "sqrt":
            pos[0] += 2
            q, v = total()
            pos[0] += 1
            if tiny(q, v):
                raise Unknown("radicand near zero")
            if v < 0:
                raise Refused("sqrt of a negative number")
            exact = None
            if q is not None:
                n, d = mp.sqrt(q.numerator), mp.sqrt(q.denominator)
                rn, rd = int(mp.nint(n)), int(mp.nint(d))
                if rn * rn == q.numerator and rd * rd == q.denominator:
                    exact = Fraction(rn, rd)
            value = (exact, mp.sqrt(v) if v > 0 else mp.mpf(0))
        else:
            raise Unknown(str(t))
        if peek() == "^":
            pos[0] += 1
            value = power(value, unary())
        return value

    def term():
        q, v = unary()
        while peek() in ("*", "/"):
            op = toks[pos[0]]
            pos[0] += 1
            rq, rv = unary()
            if op == "*":
                q = q * rq if q is not None and rq is not None and bits(q) + bits(rq) < 1 << 17 else None
                v = v * rv
            else:
                if rq == 0:
                    raise Refused("division by zero")
                if tiny(rq, rv):
                    raise Unknown("divisor near zero")
                q = q / rq if q is not None and rq is not None and bits(q) + bits(rq) < 1 << 17 else None
                v = v / rv
        return q, v

    def total():
        q, v = term()
        while peek() in ("+", "-"):
            op = toks[pos[0]]
            pos[0] += 1
            rq, rv = term()
            if op == "+":
                q = q + rq if q is not None and rq is not None and bits(q) + bits(rq) < 1 << 17 else None
                v = v + rv
            else:
                q = q - rq if q is not None and rq is not None and bits(q) + bits(rq) < 1 << 17 else None
                v = v - rv
        return q, v

    return total()


def check(text, result):
    """Whether gyrelle's float and sign agree with the oracle: {"status": ok|wrong|skipped, ...}."""
    try:
        import mpmath
    except ImportError:
        return {"status": "skipped", "why": "mpmath missing"}
    values = []
    try:
        for dps in (60, 140):
            mp = mpmath.mp
            mp.dps = dps
            values.append(oracle_value(text, mp))
    except Refused as e:
        return {"status": "wrong", "why": f"gyrelle gives a value, the oracle refuses: {e}"}
    except (Unknown, ZeroDivisionError, OverflowError, ValueError) as e:
        return {"status": "skipped", "why": str(e)[:100]}
    finally:
        mpmath.mp.dps = 15
    (q, low), (_, high) = values
    if q is not None:
        sign = (q > 0) - (q < 0)
        want = float(q) if abs(q) < 10**300 else None
    else:
        if high == 0 or abs(low - high) > abs(high) * mpmath.mpf(10) ** -40:
            return {"status": "skipped", "why": "precision"}
        sign = 1 if high > 0 else -1
        want = float(high)
    if result["sign"] != sign:
        return {"status": "wrong", "why": f"sign {result['sign']}, oracle {sign}"}
    got = result["float"]
    if want is not None and isinstance(got, float) and want != float("inf") and got != want:
        return {"status": "wrong", "why": f"float {got!r}, oracle {want!r}"}
    return {"status": "ok"}


# ---- Report ------------------------------------------------------------------------------------


def cpu(case):
    return sum(case["result"].get("times", {}).values())


def main_phase(case):
    times = case["result"].get("times", {})
    return max(times, key=times.get) if times else "-"


def outcome(case):
    r = case["result"]
    if r.get("ok"):
        if "compare" in r:
            return "compare " + " ".join(f"{op}:{v[0]}" for (op, _), v in zip(case["comparisons"], r["compare"]))
        return f"value {r['float']} (degree {r['degree']})"
    return f"{r['error']}: {r['message'][:110]}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=30000, help="random texts (default 30000)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds of CPU time per text")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="child processes")
    parser.add_argument("--memory", type=float, default=4, help="GiB of address space per child (0: no limit)")
    parser.add_argument("--slowest", type=int, default=40, help="slowest texts to list")
    parser.add_argument("--no-oracle", action="store_true", help="skip the mpmath comparison")
    parser.add_argument("--no-fixed", action="store_true", help="skip the fixed cases")
    parser.add_argument("--texts", help="a file of texts, one a line, to run instead of the random ones")
    parser.add_argument("--out", help="write one JSON line per text here")
    parser.add_argument("--progress", action="store_true")
    parser.add_argument("--root", default=ROOT, help="the tree whose gyrelle/ is imported")
    args = parser.parse_args()

    cases = []
    if not args.no_fixed:
        for f in FIXED:
            cases.append({"texts": list(f[:2]) if len(f) > 1 else [f[0]], "comparisons": f[2] if len(f) > 2 else None,
                          "fixed": True, "oracle": False})
    if args.texts:
        with open(args.texts) as f:
            texts = [line.rstrip("\n") for line in f if line.strip()]
    else:
        texts = generate(args.count, args.seed)
    for text in texts:
        cases.append({"texts": [text], "comparisons": None, "fixed": False, "oracle": not args.no_oracle})
    start = time.monotonic()
    run_all(cases, args)
    wall = time.monotonic() - start

    if args.out:
        with open(args.out, "w") as f:
            for c in cases:
                f.write(json.dumps({k: v for k, v in c.items() if k not in ("started",)}) + "\n")

    fuzz = [c for c in cases if not c["fixed"]]
    fixed = [c for c in cases if c["fixed"]]
    values = sum(1 for c in fuzz if c["result"].get("ok"))
    ordinary = [c for c in fuzz if not c["result"].get("ok") and c["result"]["error"] not in ("timeout", "worker died", "PanicException", "SystemError")]
    bad = [c for c in fuzz if not c["result"].get("ok") and c not in ordinary]
    within = sum(1 for c in fuzz if cpu(c) <= 1.0 and (c["result"].get("ok") or c in ordinary))
    source = f"from {args.texts}" if args.texts else f"of at most {MAX_LEN} characters, seed {args.seed}"
    print(f"{len(fuzz)} texts {source}, {args.jobs} children, "
          f"timeout {args.timeout:g} s, wall {wall:.0f} s")
    print(f"  values {values}, ordinary errors {len(ordinary)}, timeouts or failures {len(bad)}")
    print(f"  within 1 s with a value or an ordinary error: {within} of {len(fuzz)}")
    for limit in (0.1, 1.0, 2.0, 5.0):
        print(f"  past {limit:g} s: {sum(1 for c in fuzz if cpu(c) > limit)}")
    kinds = {}
    for c in ordinary:
        key = c["result"]["message"].split(":")[0][:60] or "(empty message)"
        kinds[key] = kinds.get(key, 0) + 1
    print("  ordinary errors by message:")
    for key, n in sorted(kinds.items(), key=lambda kv: -kv[1])[:12]:
        print(f"    {n:6d}  {key}")
    for c in bad:
        print(f"  failure: {c['texts'][0]!r}: {outcome(c)} (phase {c['result'].get('phase')})")
    if not args.no_oracle:
        status = {}
        for c in fuzz:
            s = c.get("oracle_result", {}).get("status", "skipped")
            status[s] = status.get(s, 0) + 1
        print(f"  oracle: {status.get('ok', 0)} agree, {status.get('wrong', 0)} wrong, {status.get('skipped', 0)} undecided")
        for c in fuzz:
            if c.get("oracle_result", {}).get("status") == "wrong":
                print(f"    wrong: {c['texts'][0]!r}: {c['oracle_result']['why']}")
    print(f"slowest {args.slowest} (CPU seconds, phase with the most time, outcome):")
    for c in sorted(fuzz, key=cpu, reverse=True)[: args.slowest]:
        print(f"  {cpu(c):7.2f}  {c['texts'][0]:32s} {main_phase(c):9s} {outcome(c)}")
    if fixed:
        settled = sum(1 for c in fixed if cpu(c) <= 1.0 and c["result"].get("error") not in ("timeout", "worker died"))
        print(f"fixed cases, {settled} of {len(fixed)} within 1 s (CPU seconds per phase):")
        for c in fixed:
            times = " ".join(f"{k} {v:.3f}" for k, v in c["result"].get("times", {}).items())
            expected = ""
            r = c["result"]
            if c["comparisons"] and r.get("ok"):
                right = all(v[0] == want and v[1] == want for (_, want), v in zip(c["comparisons"], r["compare"]))
                expected = "" if right else "  WRONG"
            print(f"  {cpu(c):7.2f}  {' ? '.join(c['texts'])}: {outcome(c)}{expected}\n           {times}")


if __name__ == "__main__":
    main()
