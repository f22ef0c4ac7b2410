#include "frm/natural_order.h"

#include <gtest/gtest.h>

namespace {

// Each row's names in natural order.
const char* const kOrders[][3] = {
    {"walk2", "walk10", "walk100"},  // digit runs by value
    {"walk1", "walk01", "walk001"},  // equal values: the shorter run first
    {"walk01", "walk2", "walk010"},  //
    {"a9", "a10", "a10b"},           // a name that begins another first
    {"1a", "a1", "b"},               // a digit run before any other run
    {"Walk", "walk", "walks"},       // folded equal, then by the bytes
    {"a_1", "A_2", "b_1"},           // letters folded to lower case
    {"ab", "abc", "abd"},            //
    {"x1", "x-1", "x-2"},            // the run "x" begins the run "x-"
};

TEST(NaturalOrder, Rows) {
  for (const auto& row : kOrders) {
    for (int k = 0; k + 1 < 3; ++k) {
      EXPECT_LE(NaturalCompare(row[k], row[k + 1]), 0) << row[k] << " " << row[k + 1];
      EXPECT_GE(NaturalCompare(row[k + 1], row[k]), 0) << row[k] << " " << row[k + 1];
    }
  }
  EXPECT_EQ(NaturalCompare("same", "same"), 0);
  EXPECT_LT(NaturalCompare("a", "ab"), 0);
}

TEST(MatchesPattern, Rows) {
  struct Row {
    const char *pattern, *name;
    bool ignore_case, matches;
  };
  const Row rows[] = {
      {"walk*.png", "walk10.png", false, true},  {"walk*.png", "walk.png", false, true},
      {"walk*.png", "walk1.pngx", false, false}, {"walk?.png", "walk1.png", false, true},
      {"walk?.png", "walk10.png", false, false}, {"*", "anything", false, true},
      {"W*.PNG", "walk.png", false, false},      {"W*.PNG", "walk.png", true, true},
      {"?.png", "\xc3\xa9.png", false, true},    {"??.png", "\xc3\xa9.png", false, false},
      {"*??", "\xc3\xa9", false, false},         {"a*b*c", "axxbyybc", false, true},
      {"a*b*c", "axxbyyb", false, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MatchesPattern(row.pattern, row.name, row.ignore_case), row.matches) << row.pattern << " " << row.name;
  }
}

}  // namespace
