#include "convert/frame_name.h"

#include <gtest/gtest.h>

namespace {

TEST(MakeFrameName, KeepsThePartAfterTheLastBackslash) {
  EXPECT_EQ(MakeFrameName("C:\\art\\tree.bmp"), "tree.frm");
  EXPECT_EQ(MakeFrameName("C:\\my.dir\\tree"), "tree.frm");
  EXPECT_EQ(MakeFrameName("art\\"), ".frm");
  // Only the backslash separates.
  EXPECT_EQ(MakeFrameName("D:tree.bmp"), "D:tree.frm");
  EXPECT_EQ(MakeFrameName("art/tree.bmp"), "art/tree.frm");
}

TEST(MakeFrameName, TheFirstDotDecides) {
  EXPECT_EQ(MakeFrameName("tree.old.bmp"), "tree.frm");
  EXPECT_EQ(MakeFrameName(".bmp"), ".frm");
  EXPECT_EQ(MakeFrameName("tree."), "tree.frm");
  EXPECT_EQ(MakeFrameName("art/v1.2/tree.bmp"), "art/v1.frm");
}

TEST(MakeFrameName, ANameWithoutADotGetsOne) {
  EXPECT_EQ(MakeFrameName("tree"), "tree.frm");
  EXPECT_EQ(MakeFrameName(""), ".frm");
}

}  // namespace
