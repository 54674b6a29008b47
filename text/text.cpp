#include "text/text.hpp"

namespace Text {

int Index(std::string_view Pattern, std::string_view Source, int From, Direction Going) {
  if (From < 0) throw Constraint_Error("negative start position");
  const int Length = static_cast<int>(Source.size());
  std::string_view Window = Source;
  int Window_Start = 1;
  if (From > 0) {
    if (Going == Direction::Forward) {
      if (From > Length + 1) throw Index_Error("start position beyond the string");
      Window = Source.substr(From - 1);
      Window_Start = From;
    } else {
      if (From > Length) throw Index_Error("start position beyond the string");
      Window = Source.substr(0, From);
    }
  }
  if (Pattern.empty()) throw Pattern_Error("empty pattern");
  const std::size_t Found =
      Going == Direction::Forward ? Window.find(Pattern) : Window.rfind(Pattern);
  return Found == std::string_view::npos ? 0 : Window_Start + static_cast<int>(Found);
}

int Index(char Pattern, std::string_view Source, int From, Direction Going) {
  return Index(std::string_view(&Pattern, 1), Source, From, Going);
}

std::string Slice(std::string_view Source, int From, int Count) {
  if (From < 1 || Count < 0) throw Constraint_Error("slice bounds out of range");
  const long long Last = static_cast<long long>(From) + Count - 1;
  const long long Length = static_cast<long long>(Source.size());
  if (From > Length + 1 || Last > Length) throw Index_Error("slice outside the string");
  return std::string(Source.substr(From - 1, Count));
}

} // namespace Text
