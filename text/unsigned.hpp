#pragma once

#include <cstdint>
#include <string>

// Fixed-width unsigned integers and their upper-case hexadecimal images
// (exactly 2, 4 or 8 digits, no prefix, no sign).
namespace Unsigned {

using Unsigned_8 = std::uint8_t;
using Unsigned_16 = std::uint16_t;
using Unsigned_32 = std::uint32_t;
using Unsigned_64 = std::uint64_t;

// The digit for 0..15; CONSTRAINT_ERROR above 15.
char Digit(unsigned Value);

std::string Image(Unsigned_8 Value);
std::string Image(Unsigned_16 Value);
std::string Image(Unsigned_32 Value);

constexpr Unsigned_64 To_Unsigned_64(Unsigned_32 Value) {
  return Value;
}
constexpr Unsigned_64 To_Unsigned_64(Unsigned_32 High, Unsigned_32 Low) {
  return (static_cast<Unsigned_64>(High) << 32) | Low;
}

} // namespace Unsigned
