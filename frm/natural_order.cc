// Natural name order and pattern matching, for the inputs of make.
#include "frm/natural_order.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The run of bytes like name[at] (digits or not) from `at`.
std::string_view RunAt(std::string_view name, size_t at) {
  size_t end = at;
  while (end < name.size() && IsDigit(name[end]) == IsDigit(name[at])) ++end;
  return name.substr(at, end - at);
}

int CompareDigitRuns(std::string_view a, std::string_view b) {
  const std::string_view value_a = a.substr(std::min(a.find_first_not_of('0'), a.size()));
  const std::string_view value_b = b.substr(std::min(b.find_first_not_of('0'), b.size()));
  if (value_a.size() != value_b.size()) return value_a.size() < value_b.size() ? -1 : 1;
  if (int order = value_a.compare(value_b)) return order;
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int CompareOtherRuns(std::string_view a, std::string_view b) {
  for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
    const unsigned char x = static_cast<unsigned char>(Lower(a[k])), y = static_cast<unsigned char>(Lower(b[k]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// Where the UTF-8 sequence that starts at name[at] ends.
size_t CharacterEnd(std::string_view name, size_t at) {
  size_t end = at + 1;
  while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
  return end;
}

}  // namespace

int NaturalCompare(std::string_view a, std::string_view b) {
  size_t at_a = 0, at_b = 0;
  while (at_a < a.size() && at_b < b.size()) {
    const std::string_view run_a = RunAt(a, at_a), run_b = RunAt(b, at_b);
    const bool digits_a = IsDigit(run_a[0]), digits_b = IsDigit(run_b[0]);
    if (digits_a != digits_b) return digits_a ? -1 : 1;
    if (int order = digits_a ? CompareDigitRuns(run_a, run_b) : CompareOtherRuns(run_a, run_b)) return order;
    at_a += run_a.size(), at_b += run_b.size();
  }
  if (at_a < a.size() || at_b < b.size()) return at_a < a.size() ? 1 : -1;
  return a.compare(b);
}

bool MatchesPattern(std::string_view pattern, std::string_view name, bool ignore_case) {
  // The usual walk with one point to come back to: the last `*` and where
  // its run would end next.
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++, resume = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p, n = CharacterEnd(name, n);
    } else if (p < pattern.size() && (pattern[p] == name[n] || (ignore_case && Lower(pattern[p]) == Lower(name[n])))) {
      ++p, ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1, n = resume = CharacterEnd(name, resume);
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}
