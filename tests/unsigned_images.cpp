#include "core/duration.hpp"
#include "core/failure.hpp"
#include "text/unsigned.hpp"

#include <exception>
#include <new>

#include "support.hpp"

#include <gtest/gtest.h>

using namespace Unsigned;

TEST(Unsigned_Image, FixedWidthUpperCaseWithLeadingZeros) {
  EXPECT_EQ(Image(Unsigned_8{0}), "00");
  EXPECT_EQ(Image(Unsigned_16{0}), "0000");
  EXPECT_EQ(Image(Unsigned_32{0}), "00000000");
  EXPECT_EQ(Image(Unsigned_8{0xFF}), "FF");
  EXPECT_EQ(Image(Unsigned_8{0x0A}), "0A");
  EXPECT_EQ(Image(Unsigned_16{0x0A3C}), "0A3C");
  EXPECT_EQ(Image(Unsigned_16{0xFFFF}), "FFFF");
  EXPECT_EQ(Image(Unsigned_32{0x040904E4}), "040904E4");
  EXPECT_EQ(Image(Unsigned_32{0xFFFFFFFF}), "FFFFFFFF");
  EXPECT_EQ(Image(Unsigned_32{0xABCDEF01}), "ABCDEF01");
}

TEST(Unsigned_Digit, RangeIsZeroToFifteen) {
  EXPECT_EQ(Digit(0), '0');
  EXPECT_EQ(Digit(15), 'F');
  EXPECT_THROW(Digit(16), Constraint_Error);
}

TEST(Unsigned_64, JoinsHalves) {
  EXPECT_EQ(To_Unsigned_64(1, 0), Unsigned_64{1} << 32);
  EXPECT_EQ(To_Unsigned_64(0xFFFFFFFF) >> 32, 0u);
  EXPECT_EQ(To_Unsigned_64(0x12345678, 0x9ABCDEF0), 0x123456789ABCDEF0u);
}

TEST(Duration, CountsUnitsOfTwoToTheMinusFourteenSeconds) {
  EXPECT_EQ(Duration::From_Seconds(1.0).Raw, 16384);
  EXPECT_EQ(Duration::From_Seconds(0.1).Raw, 1638);
  EXPECT_EQ(Duration::From_Seconds(-0.5).Raw, -8192);
  EXPECT_DOUBLE_EQ(Duration::From_Raw(8192).Seconds(), 0.5);
  EXPECT_THROW(Duration::From_Seconds(1.0e6), Constraint_Error);
}

TEST(Failure_Description, NamesForeignExceptionsInTheSameStyle) {
  using Test_Support::Caught;
  EXPECT_EQ(Name_Of(Caught(std::bad_alloc())), "STORAGE_ERROR");
  EXPECT_EQ(Information_Of(Caught(Constraint_Error("r"))), "CONSTRAINT_ERROR (r) r");
  EXPECT_THROW(Name_Of(Caught(42)), int);
}
