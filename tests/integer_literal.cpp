#include "text/integer_literal.hpp"

#include <gtest/gtest.h>

using Text::Conversion_Error;
using Text::Integer_Value;

TEST(Integer_Value, DecimalWithSignBlanksAndUnderscores) {
  EXPECT_EQ(Integer_Value("0"), 0);
  EXPECT_EQ(Integer_Value("120"), 120);
  EXPECT_EQ(Integer_Value("007"), 7);
  EXPECT_EQ(Integer_Value("-3"), -3);
  EXPECT_EQ(Integer_Value("+3"), 3);
  EXPECT_EQ(Integer_Value("-0"), 0);
  EXPECT_EQ(Integer_Value(" \t 42"), 42);
  EXPECT_EQ(Integer_Value("42   "), 42);
  EXPECT_EQ(Integer_Value("1_048_575"), 1048575);
}

TEST(Integer_Value, BasedLiteralsWithEitherDelimiter) {
  EXPECT_EQ(Integer_Value("16#FF#"), 255);
  EXPECT_EQ(Integer_Value("16#ff#"), 255);
  EXPECT_EQ(Integer_Value("16:1F:"), 31);
  EXPECT_EQ(Integer_Value("2#1010_1010#"), 170);
  EXPECT_EQ(Integer_Value("8#777#"), 511);
  EXPECT_EQ(Integer_Value("1_6#10#"), 16);
  EXPECT_EQ(Integer_Value("-16#80000000#"), INT32_MIN);
  EXPECT_EQ(Integer_Value("16#7FFF_FFFF#"), INT32_MAX);
}

TEST(Integer_Value, ExponentsScaleByTheLiteralsBase) {
  EXPECT_EQ(Integer_Value("1E3"), 1000);
  EXPECT_EQ(Integer_Value("1e+3"), 1000);
  EXPECT_EQ(Integer_Value("12E0"), 12);
  EXPECT_EQ(Integer_Value("16#F#E2"), 15 * 256);
  EXPECT_EQ(Integer_Value("2#1#e10"), 1024);
  EXPECT_EQ(Integer_Value("0E99999999999999999999"), 0);
}

TEST(Integer_Value, ThirtyTwoBitRangeExactly) {
  EXPECT_EQ(Integer_Value("2147483647"), INT32_MAX);
  EXPECT_EQ(Integer_Value("-2147483648"), INT32_MIN);
  EXPECT_THROW(Integer_Value("2147483648"), Conversion_Error);
  EXPECT_THROW(Integer_Value("-2147483649"), Conversion_Error);
  EXPECT_THROW(Integer_Value("16#80000000#"), Conversion_Error);
  EXPECT_THROW(Integer_Value("2#1#E31"), Conversion_Error);
  EXPECT_EQ(Integer_Value("-2#1#E31"), INT32_MIN);
  EXPECT_THROW(Integer_Value("99999999999999999999999"), Conversion_Error);
  EXPECT_THROW(Integer_Value("1E99999999999999999999"), Conversion_Error);
}

TEST(Integer_Value, RejectsEverythingElse) {
  for (const char *Text :
       {"",      " ",    "\t",   "abc",  "12abc",  "1 2",  "- 1",    "--1",   "+-1",    "_1",
        "1_",    "1__2", "1.0",  "1E-1", "1E",     "E1",   "16#FG#", "16#FF", "16#FF:", "1#1#",
        "17#1#", "0#0#", "2#2#", "16##", "16#_F#", "42\t", "\t42\t", "0x1F",  "1e1_",   "#FF#"}) {
    SCOPED_TRACE(Text);
    EXPECT_THROW(Integer_Value(Text), Conversion_Error);
  }
}

TEST(Integer_Value, FailureNamesTheConversion) {
  try {
    Integer_Value("abc");
    FAIL() << "no failure";
  } catch (const Failure &F) {
    EXPECT_STREQ(F.name(), "CLIENT.CONVERSION_ERROR");
  }
}
