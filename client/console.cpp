#include "client/console.hpp"

#include <cstdio>

#include <fcntl.h>
#include <io.h>

namespace Client::Console {

namespace {

// Text mode would turn the CR LF we write into CR CR LF, and would alter
// reply bytes that happen to be line feeds. Set before main: a guarded local
// static would cost a run its thread library's start-up, several system
// calls, at the first line printed.
[[maybe_unused]] const int Binary_Output = _setmode(_fileno(stdout), _O_BINARY);

} // namespace

void Put_Line(std::string_view Line) {
  std::fwrite(Line.data(), 1, Line.size(), stdout);
  std::fwrite("\r\n", 1, 2, stdout);
}

void Flush() {
  std::fflush(stdout);
}

} // namespace Client::Console
