#include "windows/windows.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace Windows {

namespace {

// Windows takes a profile-string buffer's size modulo 65,536: a larger one
// would cut long values short there.
constexpr std::size_t Profile_Buffer_Limit = 65535;

// The largest profile section the system reads in one call.
constexpr std::size_t Section_Buffer_Size = 32767;

bool Is_Ascii(std::string_view Text) {
  return std::all_of(Text.begin(), Text.end(),
                     [](char C) { return static_cast<unsigned char>(C) < 0x80; });
}

char Ascii_Lower(char C) {
  return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

bool Same_Ascii_Text(std::string_view Left, std::string_view Right) {
  return std::ranges::equal(Left, Right,
                            [](char L, char R) { return Ascii_Lower(L) == Ascii_Lower(R); });
}

// Whether Text begins or ends with what the system may trim off a key or a
// value (it leaves such a character where a NUL follows it in the file).
bool Has_Blank_Edge(std::string_view Text) {
  constexpr std::string_view Blanks = " \t\v\f\x1a";
  return !Text.empty() && (Blanks.find(Text.front()) != std::string_view::npos ||
                           Blanks.find(Text.back()) != std::string_view::npos);
}

} // namespace

std::string Profile_String(std::string_view Key, std::string_view Section, std::string_view File) {
  const std::string Key_Text(Key), Section_Text(Section), File_Text(File);
  std::vector<char> Buffer(300);
  for (;;) {
    const DWORD Count =
        GetPrivateProfileStringA(Section_Text.c_str(), Key_Text.c_str(), nullptr, Buffer.data(),
                                 static_cast<DWORD>(Buffer.size()), File_Text.c_str());
    // A value that filled the buffer may have been cut.
    if (Count < Buffer.size() - 1 || Buffer.size() == Profile_Buffer_Limit)
      return std::string(Buffer.data(), std::min<std::size_t>(Count, Buffer.size() - 1));
    Buffer.resize(std::min(Buffer.size() * 2, Profile_Buffer_Limit));
  }
}

Profile_Section::Profile_Section(std::string_view Section, std::string_view File)
    : Section_(Section), File_(File) {
  Entries_.assign(Section_Buffer_Size, '\0');
  const DWORD Count = GetPrivateProfileSectionA(Section_.c_str(), Entries_.data(),
                                                static_cast<DWORD>(Entries_.size()), File_.c_str());
  // A section that does not fit is cut, and then reported as filling the
  // buffer but for its two NULs.
  Whole_ = Count < Entries_.size() - 2;
  Entries_.resize(Whole_ ? Count : 0);
}

std::optional<std::string> Profile_Section::Known_Value(std::string_view Key) const {
  if (!Whole_ || !Is_Ascii(Key)) return std::nullopt;
  for (std::size_t Start = 0; Start < Entries_.size();) {
    const std::size_t End = std::min(Entries_.find('\0', Start), Entries_.size());
    const std::string_view Entry(Entries_.data() + Start, End - Start);
    Start = End + 1;
    const std::size_t Equals = Entry.find('=');
    const std::string_view Name = Entry.substr(0, Equals);
    if (Has_Blank_Edge(Name)) return std::nullopt;
    // Other characters may match letters as the system folds case; never
    // fewer bytes than the key has characters.
    if (!Is_Ascii(Name)) {
      if (Name.size() >= Key.size()) return std::nullopt;
      continue;
    }
    if (!Same_Ascii_Text(Name, Key)) continue;
    if (Equals == std::string_view::npos) return std::nullopt;
    const std::string_view Text = Entry.substr(Equals + 1);
    // The system takes a quoted value's quotes off when it reads the file,
    // and leaves them on when the section comes from the registry (a file
    // listed under IniFileMapping): the section read does not tell which.
    if (Has_Blank_Edge(Text) ||
        (Text.size() >= 2 && (Text.front() == '"' || Text.front() == '\'') &&
         Text.back() == Text.front()))
      return std::nullopt;
    return std::string(Text);
  }
  return std::string();
}

std::string Profile_Section::Value(std::string_view Key) const {
  std::optional<std::string> Known = Known_Value(Key);
  return Known ? std::move(*Known) : Profile_String(Key, Section_, File_);
}

} // namespace Windows
