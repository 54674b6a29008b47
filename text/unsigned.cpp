#include "text/unsigned.hpp"

#include "core/failure.hpp"

namespace Unsigned {

char Digit(unsigned Value) {
  if (Value > 15) throw Constraint_Error("hexadecimal digit above 15");
  return "0123456789ABCDEF"[Value];
}

std::string Image(Unsigned_8 Value) {
  return {Digit(Value / 16), Digit(Value % 16)};
}

std::string Image(Unsigned_16 Value) {
  return Image(static_cast<Unsigned_8>(Value / 256)) + Image(static_cast<Unsigned_8>(Value % 256));
}

std::string Image(Unsigned_32 Value) {
  return Image(static_cast<Unsigned_16>(Value / 65536)) +
         Image(static_cast<Unsigned_16>(Value % 65536));
}

} // namespace Unsigned
