// Move texts: the first line holds the grip names (separated by spaces), the rest is the text. Any
// text reads or fails with a Parse error that quotes a token; the moves read name real actions and
// stay within the turn cap. With names of letters alone, the moves written back read the same.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "symbolic.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t line_end = std::min(input.find('\n'), input.size());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < line_end;) {
    const std::size_t j = std::min(input.find(' ', i), line_end);
    if (j > i) names.emplace_back(input.substr(i, j - i));
    i = j + 1;
  }
  const std::string_view text = line_end < input.size() ? input.substr(line_end + 1) : std::string_view{};

  auto moves = gy::parse_moves(names, text);
  if (!moves) {
    const gy::Error& e = moves.error();
    if (e.kind != gy::ErrorKind::Parse) std::abort();
    if (e.message.rfind("'", 0) != 0 && e.message.rfind("move '", 0) != 0) std::abort();
    return 0;
  }
  std::uint64_t turns = 0;
  for (const gy::Move& m : *moves) {
    if (m.action >= 2 * names.size() || m.repeat == 0) std::abort();
    turns += m.repeat;
  }
  if (turns > gy::kMaxTextTurns) std::abort();

  const bool letters = std::all_of(names.begin(), names.end(), [](const std::string& n) {
    return std::all_of(n.begin(), n.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
  });
  if (!letters || std::set<std::string>(names.begin(), names.end()).size() != names.size()) return 0;
  std::string written;
  for (const gy::Move& m : *moves) {
    written += names[m.action / 2];
    if (m.repeat > 1) written += std::to_string(m.repeat);
    if (m.action % 2 == 1) written += '\'';
    written += ' ';
  }
  auto again = gy::parse_moves(names, written);
  if (!again || *again != *moves) std::abort();
  return 0;
}
