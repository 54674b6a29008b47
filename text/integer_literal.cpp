#include "text/integer_literal.hpp"

#include <algorithm>

namespace Text {

namespace {

// Above every magnitude a signed 32-bit value can have; values are clamped
// here so that long digit strings cannot overflow the accumulator.
constexpr std::uint64_t Too_Big = std::uint64_t{1} << 32;

class Scanner {
public:
  explicit Scanner(std::string_view Text) : Text_(Text) {}

  bool At_End() const { return Position_ == Text_.size(); }
  char Peek() const { return At_End() ? '\0' : Text_[Position_]; }
  bool Take(char C) {
    if (Peek() != C) return false;
    ++Position_;
    return true;
  }

  // digit {[_] digit} in the given base; the value is clamped at Too_Big.
  std::uint64_t Numeral(unsigned Base) {
    std::uint64_t Value = 0;
    bool Expect_Digit = true;
    for (;;) {
      const int D = Digit_Value(Peek());
      if (D >= 0 && static_cast<unsigned>(D) < Base) {
        ++Position_;
        Value = std::min(Value * Base + static_cast<unsigned>(D), Too_Big);
        Expect_Digit = false;
      } else if (Peek() == '_' && !Expect_Digit) {
        ++Position_;
        Expect_Digit = true;
      } else {
        break;
      }
    }
    if (Expect_Digit) throw Conversion_Error("malformed integer literal");
    return Value;
  }

private:
  static int Digit_Value(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return -1;
  }

  std::string_view Text_;
  std::size_t Position_ = 0;
};

std::string_view Trimmed(std::string_view Text) {
  const std::size_t First = Text.find_first_not_of(" \t");
  if (First == std::string_view::npos) return {};
  const std::size_t Last = Text.find_last_not_of(' ');
  return Text.substr(First, Last - First + 1);
}

} // namespace

std::int32_t Integer_Value(std::string_view Text) {
  Scanner Input(Trimmed(Text));
  const bool Negative = Input.Take('-');
  if (!Negative) Input.Take('+');

  std::uint64_t Base = 10;
  std::uint64_t Mantissa = Input.Numeral(10);
  for (const char Delimiter : {'#', ':'}) {
    if (!Input.Take(Delimiter)) continue;
    if (Mantissa < 2 || Mantissa > 16) throw Conversion_Error("base outside 2 .. 16");
    Base = Mantissa;
    Mantissa = Input.Numeral(static_cast<unsigned>(Base));
    if (!Input.Take(Delimiter)) throw Conversion_Error("unterminated based literal");
    break;
  }

  std::uint64_t Exponent = 0;
  if (Input.Take('E') || Input.Take('e')) {
    Input.Take('+'); // an integer's exponent has no minus sign
    Exponent = Input.Numeral(10);
  }
  if (!Input.At_End()) throw Conversion_Error("not an integer literal");

  std::uint64_t Value = Mantissa;
  for (std::uint64_t Step = 0; Value != 0 && Step < Exponent && Value < Too_Big; ++Step)
    Value = std::min(Value * Base, Too_Big);

  const std::uint64_t Limit = Negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
  if (Value > Limit) throw Conversion_Error("integer literal out of range");
  return Negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(Value))
                  : static_cast<std::int32_t>(Value);
}

} // namespace Text
