#include "num/error.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <limits>

#ifdef __linux__
#include <sys/sysinfo.h>
#endif

namespace gy {

std::string_view error_kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Range: return "Range";
    case ErrorKind::Division: return "Division";
    case ErrorKind::Type: return "Type";
    case ErrorKind::Parse: return "Parse";
    case ErrorKind::State: return "State";
    case ErrorKind::Other: return "Other";
  }
  return "Other";
}

namespace {

constexpr char32_t kMalformed = 0x110000;  // beyond Unicode: a malformed byte, written as U+FFFD

// Decodes one UTF-8 code point at s[i] and advances i; a malformed byte comes back as kMalformed.
char32_t next_code_point(std::string_view s, size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
  if (extra == 0) {
    ++i;
    return b;
  }
  if (extra < 0 || i + extra >= s.size()) {
    ++i;
    return kMalformed;
  }
  char32_t cp = extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k <= extra; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return kMalformed;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += extra + 1;
  return cp;
}

struct CodeRange {
  char32_t first, last;
};

#include "num/unicode_ranges.inc"

template <std::size_t N>
bool in_ranges(const CodeRange (&ranges)[N], char32_t cp) {
  const CodeRange* end = ranges + N;
  const CodeRange* r = std::upper_bound(ranges, end, cp, [](char32_t c, const CodeRange& x) { return c < x.first; });
  return r != ranges && cp <= (r - 1)->last;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string quote(std::string_view text, bool escape_extenders) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    char32_t cp = next_code_point(text, i);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\0': out += "\\0"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default:
        bool hidden = cp == kMalformed || in_ranges(kNotPrintable, cp) ||
                      (escape_extenders && in_ranges(kGraphemeExtend, cp));
        if (!hidden) {
          append_utf8(out, cp);
        } else {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp == kMalformed ? 0xFFFD : cp));
          out += buf;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string quote_debug(std::string_view text) { return quote(text, false); }
std::string quote_name(std::string_view text) { return quote(text, true); }

std::string Error::fmt_debug(bool pretty) const {
  std::string out(error_kind_name(kind));
  if (pretty) {
    out += "(\n    ";
    out += quote_debug(message);
    out += ",\n)";
  } else {
    out += '(';
    out += quote_debug(message);
    out += ')';
  }
  return out;
}

std::uint64_t memory_ceiling() {
  static const std::uint64_t ceiling = [] {
    std::uint64_t limit = std::numeric_limits<std::ptrdiff_t>::max();
#ifdef __linux__
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
      const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1;
      std::uint64_t total = 0, bytes = 0;
      if (!__builtin_add_overflow(std::uint64_t{info.totalram}, std::uint64_t{info.totalswap}, &total) &&
          !__builtin_mul_overflow(total, unit, &bytes))
        limit = std::min(limit, bytes);
    }
#endif
    return limit;
  }();
  return ceiling;
}

void require_memory(std::uint64_t bytes, std::string_view what) {
  if (const std::uint64_t ceiling = memory_ceiling(); bytes > ceiling)
    throw MemoryRefusal(cat(what, " would take about ", bytes, " bytes, more than the ", ceiling,
                            " bytes of memory and swap this machine has"));
}

void panic(std::string report) {
  std::fprintf(stderr, "%s\n", report.c_str());
  std::fflush(stderr);
  throw Panic(std::move(report));
}

void panic_with(std::string_view context, const Error& e) { panic(cat(context, ": ", e.fmt_debug())); }

namespace detail {
void cat_one(std::string& out, double v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, end);
}
}  // namespace detail

}  // namespace gy
