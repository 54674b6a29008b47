#pragma once

#include <string_view>

// The client's only output: whole lines on standard output, bytes unchanged,
// each ended by CR LF. Nothing ever goes to standard error.
namespace Client::Console {

void Put_Line(std::string_view Line);
void Flush();

} // namespace Client::Console
