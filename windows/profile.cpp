#include "windows/handle.hpp"
#include "windows/windows.hpp"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace Windows {

namespace {

// Windows takes a profile-string buffer's size modulo 65,536: a larger one
// would cut long values short there.
constexpr std::size_t Profile_Buffer_Limit = 65535;

// The largest profile section the system reads in one call.
constexpr std::size_t Section_Buffer_Size = 32767;

// A quoted value shorter than this fits Profile_String's first buffer with
// room to spare, whatever the system does with its quotes.
constexpr std::size_t Short_Value = 299;

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

// A file name that every system takes as it stands: a drive, a backslash, and
// no forward slash. Others are searched for or completed, each system its own
// way.
bool Is_Full_Path(std::string_view File) {
  return File.size() > 3 && std::isalpha(static_cast<unsigned char>(File[0])) && File[1] == ':' &&
         File[2] == '\\' && File.find('/') == std::string_view::npos;
}

// The bytes of File when they form a plain profile: at most one section read
// long, printable ASCII and tabs, lines ended by LF or CR LF. Nothing for any
// other file, or one that cannot be read: the system reads those.
std::optional<std::string> Plain_Profile(const std::string &File) {
  if (!Is_Full_Path(File)) return std::nullopt;
  const File_Handle Handle(CreateFileA(File.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!Handle) return std::nullopt;
  std::string Text(Section_Buffer_Size + 1, '\0');
  std::size_t Have = 0;
  for (DWORD Count = 1; Count > 0 && Have < Text.size(); Have += Count)
    if (!ReadFile(Handle.Get(), Text.data() + Have, static_cast<DWORD>(Text.size() - Have), &Count,
                  nullptr))
      return std::nullopt;
  if (Have > Section_Buffer_Size) return std::nullopt;
  Text.resize(Have);
  for (std::size_t I = 0; I < Have; ++I) {
    const auto C = static_cast<unsigned char>(Text[I]);
    const bool Plain = C == '\r' ? I + 1 < Have && Text[I + 1] == '\n'
                                 : C == '\n' || C == '\t' || (C >= 0x20 && C < 0x7F);
    if (!Plain) return std::nullopt;
  }
  return Text;
}

std::string_view Trimmed(std::string_view Text) {
  constexpr std::string_view Blanks = " \t\r";
  const std::size_t First = Text.find_first_not_of(Blanks);
  if (First == std::string_view::npos) return {};
  return Text.substr(First, Text.find_last_not_of(Blanks) - First + 1);
}

// [Section] of a plain profile as the system's section read gives it: a
// "name=value" line, each ended by a NUL, for each key line, name and value
// without the blanks and tabs around them; comment lines (";") and empty lines
// left out. False where the file's form leaves room for doubt: a line opening
// with "[" that is not a plain section header, [Section] twice, a line of it
// without "=" or without a name.
bool Plain_Section(std::string_view Text, std::string_view Section, std::string &Entries) {
  bool Inside = false, Found = false;
  for (std::size_t Start = 0; Start < Text.size();) {
    const std::size_t End = std::min(Text.find('\n', Start), Text.size());
    const std::string_view Line = Trimmed(Text.substr(Start, End - Start));
    Start = End + 1;
    if (Line.empty() || Line.front() == ';') continue;
    if (Line.front() == '[') {
      const std::string_view Name = Line.substr(1, Line.size() - 2);
      if (Line.size() < 3 || Line.back() != ']' || Name.find_first_of("[]") != Name.npos ||
          Trimmed(Name).size() != Name.size())
        return false;
      Inside = Same_Ascii_Text(Name, Section);
      if (Inside && Found) return false;
      Found = Found || Inside;
      continue;
    }
    if (!Inside) continue;
    const std::size_t Equals = Line.find('=');
    if (Equals == std::string_view::npos) return false;
    const std::string_view Name = Trimmed(Line.substr(0, Equals));
    if (Name.empty()) return false;
    Entries.append(Name).append(1, '=').append(Trimmed(Line.substr(Equals + 1))).append(1, '\0');
  }
  return true;
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
  // The system's profile reading looks for the file in its own places, each
  // time; under some systems that costs more than the rest of a query's
  // start-up. A plain file is read here instead, with the same result.
  if (const std::optional<std::string> Text = Plain_Profile(File_)) {
    Read_Directly_ = Plain_Section(*Text, Section_, Entries_);
    if (Read_Directly_) {
      Whole_ = true;
      return;
    }
  }
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
    std::string_view Text = Entry.substr(Equals + 1);
    if (Has_Blank_Edge(Text)) return std::nullopt;
    if (Text.size() >= 2 && (Text.front() == '"' || Text.front() == '\'') &&
        Text.back() == Text.front()) {
      // How the system cuts a quoted value that fills its buffer is its own.
      if (Text.size() >= Short_Value) return std::nullopt;
      Text = Text.substr(1, Text.size() - 2);
    }
    return std::string(Text);
  }
  return std::string();
}

std::string Profile_Section::Value(std::string_view Key) const {
  std::optional<std::string> Known = Known_Value(Key);
  return Known ? std::move(*Known) : Profile_String(Key, Section_, File_);
}

} // namespace Windows
