#include "windows/windows.hpp"

namespace Windows {

std::vector<std::string> Split_Arguments(std::string_view Text) {
  std::vector<std::string> Arguments;
  std::size_t At = 0;
  const auto Blank = [&](std::size_t I) { return Text[I] == ' ' || Text[I] == '\t'; };
  for (;;) {
    while (At < Text.size() && Blank(At))
      ++At;
    if (At == Text.size()) return Arguments;
    std::string &Argument = Arguments.emplace_back();
    bool Quoted = false;
    while (At < Text.size() && (Quoted || !Blank(At))) {
      std::size_t Backslashes = 0;
      while (At < Text.size() && Text[At] == '\\') {
        ++Backslashes;
        ++At;
      }
      if (At == Text.size() || Text[At] != '"') {
        Argument.append(Backslashes, '\\');
        if (At < Text.size() && (Quoted || !Blank(At))) Argument += Text[At++];
        continue;
      }
      Argument.append(Backslashes / 2, '\\');
      if (Backslashes % 2 == 1) {
        Argument += '"';
      } else if (Quoted && At + 1 < Text.size() && Text[At + 1] == '"') {
        Argument += '"';
        ++At;
      } else {
        Quoted = !Quoted;
      }
      ++At;
    }
  }
}

std::string Quote_Argument(std::string_view Argument) {
  if (!Argument.empty() && Argument.find_first_of(" \t\"") == std::string_view::npos)
    return std::string(Argument);
  std::string Quoted = "\"";
  std::size_t Backslashes = 0;
  for (const char C : Argument) {
    if (C == '\\') {
      ++Backslashes;
      continue;
    }
    Quoted.append(C == '"' ? Backslashes * 2 + 1 : Backslashes, '\\');
    Backslashes = 0;
    Quoted += C;
  }
  Quoted.append(Backslashes * 2, '\\');
  return Quoted + '"';
}

} // namespace Windows
