#include "text/text.hpp"

#include <gtest/gtest.h>

using Text::Direction;
using Text::Index;
using Text::Slice;

TEST(Index, FindsPrefixesAndInnerMatchesOverTheWholeSource) {
  EXPECT_EQ(Index("ref", "reference"), 1);
  EXPECT_EQ(Index("eference", "reference"), 2);
  EXPECT_EQ(Index("references", "reference"), 0);
  EXPECT_EQ(Index("e", "reference", 0, Direction::Backward), 9);
  EXPECT_EQ(Index('.', "a.b.c", 0, Direction::Backward), 4);
  EXPECT_EQ(Index('.', "abc", 0, Direction::Backward), 0);
  EXPECT_EQ(Index("x", ""), 0);
}

TEST(Index, AMatchMustLieWhollyInsideTheWindow) {
  // Forward window From..end, reported as a position in the whole source.
  EXPECT_EQ(Index("ab", "abxab", 2), 4);
  EXPECT_EQ(Index("ab", "abxab", 5), 0);
  // Backward window 1..From: "ab" at 4 needs position 5, outside 1..4.
  EXPECT_EQ(Index("ab", "abxab", 4, Direction::Backward), 1);
  EXPECT_EQ(Index("ab", "abxab", 5, Direction::Backward), 4);
  EXPECT_EQ(Index('b', "abxab", 1, Direction::Backward), 0);
}

TEST(Index, WindowJustPastTheEndIsEmptyOneFurtherIsAnIndexFailure) {
  EXPECT_EQ(Index("a", "abc", 4), 0);
  EXPECT_THROW(Index("a", "abc", 5), Text::Index_Error);
  EXPECT_EQ(Index("c", "abc", 3, Direction::Backward), 3);
  EXPECT_THROW(Index("a", "abc", 4, Direction::Backward), Text::Index_Error);
}

TEST(Index, WindowChecksComeBeforeThePatternCheck) {
  EXPECT_THROW(Index("", "reference"), Text::Pattern_Error);
  EXPECT_THROW(Index("", ""), Text::Pattern_Error);
  EXPECT_THROW(Index("", "abc", 2), Text::Pattern_Error);
  EXPECT_THROW(Index("", "abc", 5), Text::Index_Error);
  EXPECT_THROW(Index("", "abc", 4, Direction::Backward), Text::Index_Error);
  EXPECT_THROW(Index("", "abc", -1), Constraint_Error);
  // A non-empty pattern in an empty window is simply not found.
  EXPECT_EQ(Index("a", "abc", 4), 0);
}

TEST(Index, ComparesCharactersExactly) {
  EXPECT_EQ(Index("REF", "reference"), 0);
  EXPECT_EQ(Index("\xE9", "caf\xE9"), 4);
}

TEST(Slice, CountsFromAOneBasedStart) {
  EXPECT_EQ(Slice("abc", 1, 0), "");
  EXPECT_EQ(Slice("abc", 4, 0), "");
  EXPECT_EQ(Slice("abc", 2, 2), "bc");
  EXPECT_EQ(Slice("abc", 1, 3), "abc");
  EXPECT_THROW(Slice("abc", 2, 3), Text::Index_Error);
  EXPECT_THROW(Slice("abc", 5, 0), Text::Index_Error);
  EXPECT_THROW(Slice("abc", 0, 1), Constraint_Error);
  EXPECT_THROW(Slice("abc", 1, -1), Constraint_Error);
}

TEST(Is_Empty, OnlyTheEmptyString) {
  EXPECT_TRUE(Text::Is_Empty(""));
  EXPECT_FALSE(Text::Is_Empty("a"));
  EXPECT_FALSE(Text::Is_Empty(std::string(1, '\0')));
}

TEST(Failures, ReportTheirNamesAndReasons) {
  try {
    Index("", "abc");
    FAIL() << "no failure";
  } catch (const Failure &F) {
    EXPECT_STREQ(F.name(), "TEXT.PATTERN_ERROR");
    EXPECT_EQ(F.information(), "TEXT.PATTERN_ERROR (empty pattern) empty pattern");
  }
  EXPECT_EQ(Constraint_Error().information(), "CONSTRAINT_ERROR () ");
  EXPECT_EQ(Constraint_Error("why", "what").information(), "CONSTRAINT_ERROR (why) what");
}
