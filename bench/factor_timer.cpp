// Times `factor` and `common_field` on inputs read from standard input, for the side-by-side
// comparison of bench/factoring_baselines.py. One command per line:
//   factor NAME c0 c1 ... cn     integer coefficients, lowest degree first
//   join NAME EXPR ; EXPR        the common field of two evaluated expressions
//   minpoly EXPR                 the primitive integer defining polynomial of the expression's field
// A timing is the median of RUNS runs (default 5, from the environment), each of as many calls as
// fill MIN_MS milliseconds of process CPU time (default 50); a first call slower than SLOW_MS (2000)
// is timed once. Each timing prints one line:
//   NAME seconds-per-call calls-per-run detail
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "exact.hpp"
#include "num/factoring.hpp"
#include "parse.hpp"

namespace gy {
namespace {

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v ? std::max(1, std::atoi(v)) : fallback;
}

// Median seconds per call of `work`, after one call that warms up. A warm-up call of more than
// SLOW_MS milliseconds (default 2000) is the timing itself, reported with a call count of 0.
template <class F>
std::pair<double, long> median_time(F&& work) {
  const int runs = env_int("RUNS", 5);
  const double min_seconds = env_int("MIN_MS", 50) * 1e-3;
  const double first = cpu_seconds();
  work();
  const double once = cpu_seconds() - first;
  if (once > env_int("SLOW_MS", 2000) * 1e-3) return {once, 0};
  long calls = 1;
  for (;;) {
    const double start = cpu_seconds();
    for (long i = 0; i < calls; ++i) work();
    const double spent = cpu_seconds() - start;
    if (spent >= min_seconds || calls >= (1L << 20)) break;
    calls = spent <= 0 ? calls * 8 : std::max(calls + 1, static_cast<long>(calls * 1.3 * min_seconds / spent));
  }
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const double start = cpu_seconds();
    for (long i = 0; i < calls; ++i) work();
    times.push_back((cpu_seconds() - start) / static_cast<double>(calls));
  }
  std::sort(times.begin(), times.end());
  // STAT=min reports the fastest run instead, steadier on a loaded machine.
  const char* stat = std::getenv("STAT");
  if (stat && std::string(stat) == "min") return {times.front(), calls};
  return {times[times.size() / 2], calls};
}

AlgebraicNumber evaluate(const std::string& text) {
  Expr e = expect(parse_expr(text), "expression");
  return expect(evaluate_expr(e), "value");
}

std::string trim(const std::string& s) {
  const auto a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

int run() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command, name;
    in >> command;
    if (command == "factor") {
      in >> name;
      std::vector<Fraction> c;
      for (std::string word; in >> word;) c.emplace_back(*Int::from_str(word));
      const FracPoly f(std::move(c));
      auto [seconds, calls] = median_time([&] { expect(factor(f), "factor"); });
      std::string degrees;
      for (const auto& g : expect(factor(f), "factor")) degrees += (degrees.empty() ? "" : ",") + std::to_string(g.degree());
      std::cout << name << ' ' << seconds << ' ' << calls << " degrees " << degrees << std::endl;
    } else if (command == "join") {
      in >> name;
      std::string rest;
      std::getline(in, rest);
      const auto split = rest.find(';');
      const std::vector<AlgebraicNumber> base{evaluate(trim(rest.substr(0, split))), evaluate(trim(rest.substr(split + 1)))};
      std::size_t degree = 0;
      auto [seconds, calls] = median_time([&] {
        std::vector<AlgebraicNumber> v = base;
        expect(common_field(v), "join");
        degree = v[0].field()->degree();
      });
      std::cout << name << ' ' << seconds << ' ' << calls << " degree " << degree << std::endl;
    } else if (command == "minpoly") {
      std::string rest;
      std::getline(in, rest);
      const IntPoly m = primitive_integer(evaluate(trim(rest)).field()->minimal_polynomial());
      for (std::size_t i = 0; i < m.coeffs.size(); ++i) std::cout << (i ? " " : "") << m.coeffs[i].to_string();
      std::cout << std::endl;
    } else if (!command.empty()) {
      std::cerr << "unknown command " << command << std::endl;
      return 2;
    }
  }
  return 0;
}

}  // namespace
}  // namespace gy

int main() { return gy::run(); }
