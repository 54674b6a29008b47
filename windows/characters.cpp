#include "windows/characters.hpp"

#include "text/unsigned.hpp"

#include <algorithm>

#include <windows.h>

namespace Windows::Characters {

namespace {

int Converted(std::string_view Text, wchar_t *Into, int Room, DWORD Flags = MB_ERR_INVALID_CHARS) {
  return MultiByteToWideChar(CP_ACP, Flags, Text.data(), static_cast<int>(Text.size()), Into, Room);
}

// Where Text stops being characters: each character is the shortest run of
// bytes that converts on its own, and the first byte that starts none is the
// one at fault. Only a refused text pays for this walk.
std::string Fault(std::string_view Text) {
  std::size_t At = 0;
  while (At < Text.size()) {
    std::size_t Length = 1;
    while (Length <= 4 && At + Length <= Text.size() &&
           Converted(Text.substr(At, Length), nullptr, 0) <= 0)
      ++Length;
    if (Length > 4 || At + Length > Text.size()) break;
    At += Length;
  }
  const std::string Code_Page = " of code page " + std::to_string(GetACP());
  if (At >= Text.size()) return "the text is no text" + Code_Page;
  const auto Byte = static_cast<std::uint8_t>(Text[At]);
  return "byte 0x" + Unsigned::Image(Byte) + " at byte " + std::to_string(At + 1) + " of " +
         std::to_string(Text.size()) + " is no character" + Code_Page;
}

std::string Narrowed(std::wstring_view Text, UINT Flags, BOOL *Defaulted) {
  const int Size = WideCharToMultiByte(CP_ACP, Flags, Text.data(), static_cast<int>(Text.size()),
                                       nullptr, 0, nullptr, Defaulted);
  std::string Result(Size > 0 ? static_cast<std::size_t>(Size) : 0, '\0');
  if (Size > 0)
    WideCharToMultiByte(CP_ACP, Flags, Text.data(), static_cast<int>(Text.size()), Result.data(),
                        Size, nullptr, Defaulted);
  return Result;
}

} // namespace

std::wstring Wide(std::string_view Text) {
  if (const std::size_t Nul = Text.find('\0'); Nul != std::string_view::npos)
    throw Invalid("a NUL byte at byte " + std::to_string(Nul + 1) + " of " +
                  std::to_string(Text.size()));
  if (Text.empty()) return {};
  const int Size = Converted(Text, nullptr, 0);
  if (Size <= 0) throw Invalid(Fault(Text));
  std::wstring Result(static_cast<std::size_t>(Size), L'\0');
  Converted(Text, Result.data(), Size);
  return Result;
}

std::wstring Widened(std::string_view Text) {
  if (Text.empty()) return {};
  std::wstring Result(static_cast<std::size_t>(std::max(Converted(Text, nullptr, 0, 0), 0)), L'\0');
  Converted(Text, Result.data(), static_cast<int>(Result.size()), 0);
  return Result;
}

std::optional<std::string> Narrow(std::wstring_view Text) {
  if (Text.empty()) return std::string();
  // UTF-8 takes neither the flag nor the question; the round trip below
  // answers for every code page.
  const bool Utf8 = GetACP() == CP_UTF8;
  BOOL Defaulted = FALSE;
  std::string Result = Narrowed(Text, Utf8 ? 0 : WC_NO_BEST_FIT_CHARS, Utf8 ? nullptr : &Defaulted);
  if (Defaulted || Result.empty()) return std::nullopt;
  const int Size = Converted(Result, nullptr, 0);
  if (Size != static_cast<int>(Text.size())) return std::nullopt;
  std::wstring Back(static_cast<std::size_t>(Size), L'\0');
  Converted(Result, Back.data(), Size);
  if (Back != Text) return std::nullopt;
  return Result;
}

std::string Image(std::wstring_view Text) {
  if (std::optional<std::string> Exact = Narrow(Text)) return *std::move(Exact);
  std::string Result;
  for (std::size_t At = 0; At < Text.size();) {
    // A surrogate pair is one character.
    const bool Pair =
        At + 1 < Text.size() && IS_HIGH_SURROGATE(Text[At]) && IS_LOW_SURROGATE(Text[At + 1]);
    const std::wstring_view Character = Text.substr(At, Pair ? 2 : 1);
    At += Character.size();
    if (std::optional<std::string> Exact = Narrow(Character)) {
      Result += *Exact;
      continue;
    }
    const std::uint32_t Code =
        Pair ? 0x10000 + ((Character[0] - 0xD800u) << 10) + (Character[1] - 0xDC00u) : Character[0];
    Result += "<U+" +
              (Code > 0xFFFF ? Unsigned::Image(Code)
                             : Unsigned::Image(static_cast<std::uint16_t>(Code))) +
              ">";
  }
  return Result;
}

} // namespace Windows::Characters
