"""Factoring and field joins side by side with FLINT and PARI/GP, in one run.

Times gyrelle (build/bench/factor_timer), FLINT's fmpz_poly_factor and PARI's factor on the same
polynomials, and gyrelle's common_field against PARI's polcompositum (with the expressions of both
generators) on the same pairs of fields. Every timing is the median of at least five runs of process
CPU time, each run as many calls as fill --min-ms; the three systems are timed one after another for
each input. Each row prints the ratio of gyrelle's time to the faster baseline.

The baselines are Debian's libflint-dev and pari-gp; the script installs them when they are missing
and builds its FLINT driver in a temporary folder. Nothing of theirs is linked into gyrelle.

Run from the repository root after scripts/build:
    /usr/bin/python3 bench/factoring_baselines.py [--runs 5] [--min-ms 50] [--only NAME...] [--timeout S]
With --dump it prints the factoring inputs as the timer's commands instead (for profiling).
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGES = ["libflint-dev", "pari-gp"]

FLINT_DRIVER = r"""
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <flint/fmpz_poly.h>
#include <flint/fmpz_poly_factor.h>

static double cpu(void) {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}
static int cmp(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}
static void once(const fmpz_poly_t f) {
  fmpz_poly_factor_t fac;
  fmpz_poly_factor_init(fac);
  fmpz_poly_factor(fac, f);
  fmpz_poly_factor_clear(fac);
}
int main(int argc, char** argv) {
  int runs = atoi(argv[1]);
  double min_seconds = atof(argv[2]) * 1e-3;
  static char line[1 << 24];
  while (fgets(line, sizeof line, stdin)) {
    char* save = NULL;
    char* name = strtok_r(line, " \n", &save);
    if (!name) continue;
    fmpz_poly_t f;
    fmpz_poly_init(f);
    fmpz_t c;
    fmpz_init(c);
    long i = 0;
    for (char* w = strtok_r(NULL, " \n", &save); w; w = strtok_r(NULL, " \n", &save), ++i) {
      fmpz_set_str(c, w, 10);
      fmpz_poly_set_coeff_fmpz(f, i, c);
    }
    once(f);
    long calls = 1;
    for (;;) {
      double start = cpu();
      for (long k = 0; k < calls; ++k) once(f);
      double spent = cpu() - start;
      if (spent >= min_seconds || calls >= (1L << 20)) break;
      long next = spent <= 0 ? calls * 8 : (long)(calls * 1.3 * min_seconds / spent);
      calls = next > calls ? next : calls + 1;
    }
    double* t = malloc(sizeof(double) * runs);
    for (int r = 0; r < runs; ++r) {
      double start = cpu();
      for (long k = 0; k < calls; ++k) once(f);
      t[r] = (cpu() - start) / calls;
    }
    qsort(t, runs, sizeof(double), cmp);
    fmpz_poly_factor_t fac;
    fmpz_poly_factor_init(fac);
    fmpz_poly_factor(fac, f);
    printf("%s %g %ld degrees", name, t[runs / 2], calls);
    for (long k = 0; k < fac->num; ++k) printf("%s%ld", k ? "," : " ", (long)fmpz_poly_degree(fac->p + k));
    printf("\n");
    fflush(stdout);
    fmpz_poly_factor_clear(fac);
    free(t);
    fmpz_clear(c);
    fmpz_poly_clear(f);
  }
  return 0;
}
"""

# Median seconds per call of `work`, runs of `calls` calls filling min_ms of CPU time.
GP_TIMER = r"""
default(parisizemax, 2^32);
timed(work, runs, min_ms) = {
  my(calls = 1, spent, t = vector(runs));
  work();
  while (1,
    my(start = getabstime());
    for (k = 1, calls, work());
    spent = getabstime() - start;
    if (spent >= min_ms || calls >= 2^20, break);
    calls = if (spent <= 0, calls * 8, max(calls + 1, floor(calls * 1.3 * min_ms / spent))));
  for (r = 1, runs,
    my(start = getabstime());
    for (k = 1, calls, work());
    t[r] = (getabstime() - start) / calls / 1000.);
  [vecsort(t)[runs \ 2 + 1], calls];
}
"""


# ----------------------------------------------------------------------------------------------
# Inputs

def mul(a, b):
    out = [0] * (len(a) + len(b) - 1)
    for i, x in enumerate(a):
        if x:
            for j, y in enumerate(b):
                out[i + j] += x * y
    return out


def divide_exact(a, b):
    a = list(a)
    q = [0] * (len(a) - len(b) + 1)
    for t in range(len(a) - 1, len(b) - 2, -1):
        c = a[t] // b[-1]
        q[t - len(b) + 1] = c
        for j, y in enumerate(b):
            a[t - len(b) + 1 + j] -= c * y
    assert not any(a), "not divisible"
    return q


def sd(count):
    """The polynomial whose roots are ±√2 ± √3 ± … over the first `count` primes."""
    p = [0, 1]
    for q in [2, 3, 5, 7, 11, 13][:count]:
        a, b = [0], [0]
        for c in reversed(p):
            # (A + √q·B)·(x + √q) + c = (A·x + q·B + c) + √q·(A + B·x)
            na = add(add(mul(a, [0, 1]), [q * v for v in b]), [c])
            b = add(a, mul(b, [0, 1]))
            a = na
        p = add(mul(a, a), [-q * v for v in mul(b, b)])
    return trim(p)


def add(a, b):
    n = max(len(a), len(b))
    return [(a[i] if i < len(a) else 0) + (b[i] if i < len(b) else 0) for i in range(n)]


def trim(a):
    while len(a) > 1 and a[-1] == 0:
        a.pop()
    return a


def x_n(n, c):
    return [c] + [0] * (n - 1) + [1]


def cyclotomic(n, memo={}):
    if n not in memo:
        p = x_n(n, -1)
        for d in range(1, n):
            if n % d == 0:
                p = divide_exact(p, cyclotomic(d))
        memo[n] = p
    return memo[n]


def dense_product(count, degree, rng):
    """`count` random factors of `degree`, coefficients uniform in [-1000, 1000], leading positive."""
    p = [1]
    for _ in range(count):
        f = [rng.randint(-1000, 1000) for _ in range(degree)] + [rng.randint(1, 1000)]
        p = mul(p, f)
    return p


def small_dense_product(count, degree, rng):
    """`count` random factors of `degree`, coefficients uniform in [-9, 9], leading in [1, 9]."""
    p = [1]
    for _ in range(count):
        p = mul(p, [rng.randint(-9, 9) for _ in range(degree)] + [rng.randint(1, 9)])
    return p


def trinomial_product(count, degree, rng):
    """`count` trinomials x^degree + a·x^k + b, 0 < k < degree, a and b in ±[1, 5]."""
    p = [1]
    for _ in range(count):
        f = [0] * (degree + 1)
        f[degree] = 1
        f[rng.randrange(1, degree)] = rng.choice([-1, 1]) * rng.randint(1, 5)
        f[0] = rng.choice([-1, 1]) * rng.randint(1, 5)
        p = mul(p, f)
    return p


def real_cyclotomic(n):
    """The minimal polynomial of 2·cos(2π/n), n >= 3: z^-m·Φ_n(z) written in x = z + 1/z through
    z^j + z^-j = D_j(x), D_0 = 2, D_1 = x, D_j = x·D_(j-1) − D_(j-2)."""
    c = cyclotomic(n)
    m = (len(c) - 1) // 2
    out = [c[m]]
    d0, d1 = [2], [0, 1]
    for j in range(1, m + 1):
        out = add(out, [c[m + j] * v for v in d1])
        d0, d1 = d1, add(mul([0, 1], d1), [-v for v in d0])
    return trim(out)


def factoring_inputs():
    rng = random.Random(24)
    rows = [(f"SD{2 ** k}", sd(k)) for k in range(3, 7)]
    rows += [("Phi1001", cyclotomic(1001)), ("Phi997", cyclotomic(997)),
             ("x^720-1", x_n(720, -1)), ("x^360-1", x_n(360, -1))]
    for count, degree in [(2, 20), (3, 30), (4, 40), (2, 100)]:
        rows.append((f"dense{count}x{degree}", dense_product(count, degree, rng)))
    rows += [(f"x^{n}{a:+d}", x_n(n, a)) for n, a in
             [(256, -81), (512, 4), (300, -3), (500, -3), (729, -2), (840, -4), (1000, -5), (1024, -3)]]
    rng = random.Random(29)
    for count, degree in [(2, 250), (5, 100), (10, 50), (20, 25), (50, 10)]:
        rows.append((f"small{count}x{degree}", small_dense_product(count, degree, rng)))
    for count, degree in [(3, 111), (9, 37), (2, 166), (6, 55)]:
        rows.append((f"tri{count}x{degree}", trinomial_product(count, degree, rng)))
    rows += [(f"2cos(2pi/{n})", real_cyclotomic(n)) for n in (105, 211, 401, 840, 1001, 1009, 2003)]
    return rows


SQ = lambda *qs: "+".join(f"sqrt({q})" for q in qs)
CB = lambda *qs: "+".join(f"cbrt({q})" for q in qs)

# (name, expression of the first field, expression of the second field); the join has the product
# of their degrees.
JOINS = [
    ("join4 (2x2)", SQ(2), SQ(3)),
    ("join8 (4x2)", SQ(2, 3), SQ(5)),
    ("join16 (8x2)", SQ(2, 3, 5), SQ(7)),
    ("join32 (16x2)", SQ(2, 3, 5, 7), SQ(11)),
    ("join18 (9x2)", CB(2, 3), SQ(2)),
    ("join36 (9x4)", CB(2, 3), SQ(2, 3)),
    ("join72 (9x8)", CB(2, 3), SQ(2, 3, 5)),
    ("join108 (27x4)", CB(2, 3, 5), SQ(2, 3)),
    ("join144 (9x16)", CB(2, 3), SQ(2, 3, 5, 7)),
    # Radical fields x^n - a with quadratic fields of large discriminant, whose joins have large
    # coefficients, and a join of coprime degrees.
    ("join32 (16x2 large)", "11^(1/16)", "sqrt(4543416)"),
    ("join64 (32x2 large)", "11^(1/32)", "sqrt(4543416)"),
    ("join128 (64x2 large)", "11^(1/64)", "sqrt(4543416)"),
    ("join200 (100x2 large)", "11^0.01", "sqrt(4543416)"),
    ("join256 (128x2 large)", "11^(1/128)", "sqrt(4543416)"),
    ("join200 (100x2 decimal)", "7^0.01", "sqrt(10.95)"),
    ("join200 (100x2 half)", "0.5^0.01", "sqrt(493)"),
    ("join192 (64x3)", "2^(1/64)", "3^(1/3)"),
]


# ----------------------------------------------------------------------------------------------
# Drivers

def ensure_baselines():
    missing = [p for p in PACKAGES
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout.find("install ok installed") < 0]
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(sudo + ["apt-get", "update", "-q"], check=True, env=env)
        subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "--no-install-recommends"] + missing,
                       check=True, env=env)


def build_flint_driver(folder):
    source = os.path.join(folder, "flint_factor.c")
    with open(source, "w") as f:
        f.write(FLINT_DRIVER)
    binary = os.path.join(folder, "flint_factor")
    subprocess.run(["cc", "-O2", source, "-o", binary, "-lflint", "-lgmp"], check=True)
    return binary


def parse_row(line):
    name, seconds, calls, *detail = line.split()
    return float(seconds), " ".join(detail)


def run_timer(timer, text, args, timeout=None):
    env = dict(os.environ, RUNS=str(args.runs), MIN_MS=str(args.min_ms))
    out = subprocess.run([timer], input=text, capture_output=True, text=True, check=True, env=env,
                         timeout=timeout).stdout
    return out.strip().splitlines()


def gp_time(setup, work, args):
    """Median seconds per call of the GP expression `work` after the statements `setup`."""
    script = f'{GP_TIMER}{setup}\nprintf("%.6e\\n", timed(() -> {work}, {args.runs}, {args.min_ms})[1]);\n'
    out = subprocess.run(["gp", "-q", "-f", "--default", "nbthreads=1"], input=script,
                         capture_output=True, text=True, check=True).stdout
    return float(out.strip().splitlines()[-1].replace(" ", ""))


def gp_poly(c):
    return "Polrev([" + ",".join(str(x) for x in c) + "])"


def ms(seconds):
    return f"{seconds * 1e3:10.3f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--min-ms", type=int, default=50)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--only", nargs="*", help="names of the inputs to time")
    parser.add_argument("--timeout", type=float, default=300, help="seconds after which gyrelle's timing stops")
    parser.add_argument("--dump", action="store_true", help="print the timer's factoring commands and stop")
    args = parser.parse_args()
    args.runs = max(args.runs, 5)
    timer = os.path.join(args.build, "bench", "factor_timer")
    wanted = lambda name: not args.only or any(o in name for o in args.only)
    if args.dump:
        for name, c in factoring_inputs():
            if wanted(name):
                print(f"factor {name} " + " ".join(str(x) for x in c))
        return
    if not os.path.exists(timer):
        sys.exit(f"{timer} is missing: run scripts/build first")
    ensure_baselines()

    folder = tempfile.mkdtemp(prefix="gyrelle-baselines-")
    try:
        flint = build_flint_driver(folder)
        print(f"{'factoring':16} {'gyrelle ms':>10} {'FLINT ms':>10} {'PARI ms':>10}  ratio  factor degrees")
        for name, c in factoring_inputs():
            if not wanted(name):
                continue
            line = " ".join(str(x) for x in c)
            try:
                g, degrees = parse_row(run_timer(timer, f"factor {name} {line}\n", args, args.timeout)[0])
            except subprocess.TimeoutExpired:
                g, degrees = None, "degrees ?"
            env = dict(os.environ)
            out = subprocess.run([flint, str(args.runs), str(args.min_ms)], input=f"{name} {line}\n",
                                 capture_output=True, text=True, check=True, env=env).stdout
            fl, flint_degrees = parse_row(out.strip())
            pari = gp_time(f"f = {gp_poly(c)};", "factor(f)", args)
            same = sorted(degrees.split()[1].split(",")) == sorted(flint_degrees.split()[1].split(","))
            if g is None:
                print(f"{name:16} {'> ' + str(args.timeout) + ' s':>10} {ms(fl)} {ms(pari)} {'-':>6}  "
                      f"(FLINT {flint_degrees.split()[1]})", flush=True)
                continue
            print(f"{name:16} {ms(g)} {ms(fl)} {ms(pari)} {g / min(fl, pari):6.2f}  {degrees.split()[1]}"
                  + ("" if same else f"  (FLINT {flint_degrees.split()[1]})"), flush=True)

        print(f"\n{'join':16} {'gyrelle ms':>10} {'PARI ms':>10}  ratio  degree")
        for name, a, b in JOINS:
            if not wanted(name):
                continue
            g, detail = parse_row(run_timer(timer, f"join {name.split()[0]} {a} ; {b}\n", args)[0])
            pa, pb = (run_timer(timer, f"minpoly {e}\n", args)[0].split() for e in (a, b))
            pari = gp_time(f"A = {gp_poly(pa)}; B = {gp_poly(pb)};", "polcompositum(A, B, 1)", args)
            print(f"{name:16} {ms(g)} {ms(pari)} {g / pari:6.2f}  {detail.split()[1]}", flush=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
