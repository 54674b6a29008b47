#include "windows/windows.hpp"

namespace Windows {

namespace {

// The same rules for the code page's bytes and for the system's characters;
// only the latter are what a program reads, so only they decide a start.
template <typename Character>
std::vector<std::basic_string<Character>> Split(std::basic_string_view<Character> Text) {
  constexpr Character Quote = '"', Backslash = '\\';
  std::vector<std::basic_string<Character>> Arguments;
  std::size_t At = 0;
  const auto Blank = [&](std::size_t I) { return Text[I] == ' ' || Text[I] == '\t'; };
  for (;;) {
    while (At < Text.size() && Blank(At))
      ++At;
    if (At == Text.size()) return Arguments;
    std::basic_string<Character> &Argument = Arguments.emplace_back();
    bool Quoted = false;
    while (At < Text.size() && (Quoted || !Blank(At))) {
      std::size_t Backslashes = 0;
      while (At < Text.size() && Text[At] == Backslash) {
        ++Backslashes;
        ++At;
      }
      if (At == Text.size() || Text[At] != Quote) {
        Argument.append(Backslashes, Backslash);
        if (At < Text.size() && (Quoted || !Blank(At))) Argument += Text[At++];
        continue;
      }
      Argument.append(Backslashes / 2, Backslash);
      if (Backslashes % 2 == 1) {
        Argument += Quote;
      } else if (Quoted && At + 1 < Text.size() && Text[At + 1] == Quote) {
        Argument += Quote;
        ++At;
      } else {
        Quoted = !Quoted;
      }
      ++At;
    }
  }
}

template <typename Character>
std::basic_string<Character> Quote(std::basic_string_view<Character> Argument) {
  constexpr Character Quote_Mark = '"', Backslash = '\\';
  constexpr Character Needing[] = {' ', '\t', '"', 0};
  if (!Argument.empty() &&
      Argument.find_first_of(Needing) == std::basic_string_view<Character>::npos)
    return std::basic_string<Character>(Argument);
  std::basic_string<Character> Quoted(1, Quote_Mark);
  std::size_t Backslashes = 0;
  for (const Character C : Argument) {
    if (C == Backslash) {
      ++Backslashes;
      continue;
    }
    Quoted.append(C == Quote_Mark ? Backslashes * 2 + 1 : Backslashes, Backslash);
    Backslashes = 0;
    Quoted += C;
  }
  Quoted.append(Backslashes * 2, Backslash);
  return Quoted + Quote_Mark;
}

} // namespace

std::vector<std::string> Split_Arguments(std::string_view Text) {
  return Split(Text);
}

std::vector<std::wstring> Split_Arguments(std::wstring_view Text) {
  return Split(Text);
}

std::string Quote_Argument(std::string_view Argument) {
  return Quote(Argument);
}

std::wstring Quote_Argument(std::wstring_view Argument) {
  return Quote(Argument);
}

} // namespace Windows
