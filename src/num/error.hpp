// The failure value of every fallible core operation, the result type that carries it, and the
// report of a broken invariant.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <expected>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace gy {

enum class ErrorKind : std::uint8_t { Range = 0, Division = 1, Type = 2, Parse = 3, State = 4, Other = 5 };

std::string_view error_kind_name(ErrorKind kind);

struct Error {
  ErrorKind kind = ErrorKind::Other;
  std::string message;

  static Error range(std::string m) { return {ErrorKind::Range, std::move(m)}; }
  static Error division(std::string m) { return {ErrorKind::Division, std::move(m)}; }
  static Error type(std::string m) { return {ErrorKind::Type, std::move(m)}; }
  static Error parse(std::string m) { return {ErrorKind::Parse, std::move(m)}; }
  static Error state(std::string m) { return {ErrorKind::State, std::move(m)}; }
  static Error other(std::string m) { return {ErrorKind::Other, std::move(m)}; }
  static Error could_not_construct() { return other("Could not construct C (this shouldn't happen)"); }
  static Error exponent_too_large() { return other("exponent too large"); }

  // Kind(\"message\"), or the multi-line form when pretty.
  std::string fmt_debug(bool pretty = false) const;

  bool operator==(const Error&) const = default;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;
using Unexpected = std::unexpected<Error>;

inline Unexpected fail(Error e) { return Unexpected(std::move(e)); }
inline Unexpected fail(ErrorKind kind, std::string message) { return Unexpected(Error{kind, std::move(message)}); }

// The text quoted as a string literal: in double quotes, with a backslash before each double quote
// and backslash, \0 \t \r \n for those controls, and \u{hex} for every other character that is not
// printable (the Unicode categories Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs, the space excepted) and for a
// malformed byte (as U+FFFD). The debug text of errors and the reprs write strings this way.
std::string quote_debug(std::string_view text);
// quote_debug that also escapes the characters with the Unicode Grapheme_Extend property (combining
// marks and the like, which would otherwise attach to the quote or the character before): how
// names are written in messages.
std::string quote_name(std::string_view text);

// A broken internal invariant. The report is written to standard error, then this is thrown; the
// Python boundary turns it into its panic exception. Never caught inside the core.
struct Panic : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A request for memory that cannot or may not be had, refused before it is made, with a message
// naming what asked for how much and the limit. It is a std::bad_alloc, so every holder treats it as
// the failed allocation it stands for; the Python boundary raises MemoryError with the message.
struct MemoryRefusal : std::bad_alloc {
  explicit MemoryRefusal(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// The most bytes this machine could ever give one request: its memory and swap together, read once.
std::uint64_t memory_ceiling();
// Refuses, before anything is allocated, a request that no allocation could meet: MemoryRefusal
// "{what} would take about {} bytes, more than the {} bytes of memory and swap this machine has".
void require_memory(std::uint64_t bytes, std::string_view what);

[[noreturn]] void panic(std::string report);
// "{context}: {debug text of e}"
[[noreturn]] void panic_with(std::string_view context, const Error& e);

// The value of a result that cannot fail by construction; a failure is a broken invariant.
template <class T>
T expect(Result<T>&& r, std::string_view context) {
  if (!r) panic_with(context, r.error());
  if constexpr (!std::is_void_v<T>) return std::move(*r);
}

namespace detail {
inline void cat_one(std::string& out, std::string_view s) { out.append(s); }
inline void cat_one(std::string& out, const char* s) { out.append(s); }
inline void cat_one(std::string& out, const std::string& s) { out.append(s); }
inline void cat_one(std::string& out, char c) { out.push_back(c); }
template <std::integral I>
  requires(!std::same_as<I, char> && !std::same_as<I, bool>)
void cat_one(std::string& out, I v) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, end);
}
void cat_one(std::string& out, double v);
}  // namespace detail

// Concatenates texts and numbers into one message.
template <class... A>
std::string cat(const A&... parts) {
  std::string out;
  (detail::cat_one(out, parts), ...);
  return out;
}

}  // namespace gy

// Propagate an error from an expression of type Result<T>, yielding its value otherwise.
#define GY_TRY(...)                                                        \
  ({                                                                       \
    auto gy_try_result_ = (__VA_ARGS__);                                   \
    if (!gy_try_result_) return ::gy::Unexpected(std::move(gy_try_result_).error()); \
    std::move(*gy_try_result_);                                            \
  })

// Propagate an error from a Status or Result whose value is not needed.
#define GY_CHECK(...)                                                      \
  do {                                                                     \
    auto gy_check_result_ = (__VA_ARGS__);                                 \
    if (!gy_check_result_) return ::gy::Unexpected(std::move(gy_check_result_).error()); \
  } while (0)
