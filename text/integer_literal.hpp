#pragma once

#include "core/failure.hpp"

#include <cstdint>
#include <string_view>

// The integer literals of the client's command line and configuration, also
// read by the stand-in server.
namespace Text {

// Reported under the client's name since the client is where users meet it:
// its log lines keep that name.
using Conversion_Error = Named_Failure<"CLIENT.CONVERSION_ERROR">;

// Reads Text as an integer literal: leading blanks and tabs and trailing
// blanks are ignored; an optional sign; underscores between digits; a based
// literal (base 2 to 16, digits between two '#' or two ':'); a non-negative
// exponent. The value must fit a signed 32-bit integer. Anything else raises
// CONVERSION_ERROR.
std::int32_t Integer_Value(std::string_view Text);

} // namespace Text
