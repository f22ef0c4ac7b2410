#include "frontend/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every item SplitCommandLine takes off `line`, program name included.
std::vector<std::string> Items(const char* line) {
  std::vector<std::string> items;
  std::string item;
  for (;;) {
    line = SplitCommandLine(line, &item);
    if (item.empty()) return items;
    items.push_back(item);
  }
}

using Items_ = std::vector<std::string>;

TEST(SplitCommandLine, SeparatorsAreBytesOneToThirtyTwo) {
  EXPECT_EQ(Items("prog  a\tb\x01" "c\x1f" "d \r\n e"), (Items_{"prog", "a", "b", "c", "d", "e"}));
  // Byte 127 and bytes of 128 and above are ordinary characters.
  EXPECT_EQ(Items("prog \x7f\x80\xff\xa0x"), (Items_{"prog", "\x7f\x80\xff\xa0x"}));
  EXPECT_EQ(Items("   "), Items_{});
}

TEST(SplitCommandLine, QuotedRunsKeepSeparatorsAndDropTheirQuotes) {
  EXPECT_EQ(Items("prog \"C:\\My Pictures\\tree.bmp\""), (Items_{"prog", "C:\\My Pictures\\tree.bmp"}));
  EXPECT_EQ(Items("prog ab\"c d\"e"), (Items_{"prog", "abc de"}));
  EXPECT_EQ(Items("prog \"a\tb\x01\"c"), (Items_{"prog", "a\tb\x01" "c"}));
  // An unclosed run ends with the line.
  EXPECT_EQ(Items("prog \"open  run"), (Items_{"prog", "open  run"}));
  // No escapes: a backslash before a quote is an ordinary byte.
  EXPECT_EQ(Items("prog a\\\"b c\\\" d"), (Items_{"prog", "a\\b c\\", "d"}));
}

TEST(SplitCommandLine, EmptyQuotePairsBetweenItemsCountAsSeparators) {
  EXPECT_EQ(Items("prog \"\" \"\""), Items_{"prog"});
  EXPECT_EQ(Items("prog \"\" x"), (Items_{"prog", "x"}));
  EXPECT_EQ(Items("prog \"\"\"\"x"), (Items_{"prog", "x"}));
  // Inside an item a pair is an empty quoted run.
  EXPECT_EQ(Items("prog a\"\"b"), (Items_{"prog", "ab"}));
  // A lone quote opens a run that ends at once: nothing.
  EXPECT_EQ(Items("prog \""), Items_{"prog"});
}

TEST(SplitCommandLine, ReturnsThePositionAfterTheItem) {
  const char* line = "prog  first second";
  std::string item;
  const char* next = SplitCommandLine(line, &item);
  EXPECT_EQ(next, line + 4);
  next = SplitCommandLine(next, &item);
  EXPECT_EQ(item, "first");
  EXPECT_EQ(next, line + 11);
}

TEST(SplitCommandLine, LongItemsAreTakenWhole) {
  std::string long_item(1000, 'x');
  std::string line = "prog \"" + long_item + "\" next";
  EXPECT_EQ(Items(line.c_str()), (Items_{"prog", long_item, "next"}));
}

TEST(ArgumentVector, EmptyItemsAreDropped) {
  char prog[] = "tessera", empty[] = "", first[] = "x.bmp", second[] = "y.bmp";
  char* argv[] = {prog, empty, first, empty, second, nullptr};
  SetArgumentVector(5, argv);
  EXPECT_EQ(ArgumentCount(), 2u);
  EXPECT_EQ(Argument(1), "x.bmp");
  EXPECT_EQ(Argument(2), "y.bmp");
  EXPECT_EQ(Argument(3), "");
  char* only_empty[] = {prog, empty, empty, nullptr};
  SetArgumentVector(3, only_empty);
  EXPECT_EQ(ArgumentCount(), 0u);
  EXPECT_EQ(Argument(1), "");
}

}  // namespace
