#pragma once

// What the fuzz tests and their stand-in programs exchange through files:
// records of "key=HEX" lines (any bytes survive, line ends included) and the
// stand-in server's plan of reply messages.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace Fuzz_Wire {

inline std::string Hex(std::string_view Bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string Text;
  for (const char C : Bytes) {
    Text += Digits[static_cast<unsigned char>(C) >> 4];
    Text += Digits[static_cast<unsigned char>(C) & 15];
  }
  return Text;
}

inline std::string Unhex(std::string_view Text) {
  const auto Value = [](char C) { return C <= '9' ? C - '0' : C - 'A' + 10; };
  std::string Bytes;
  for (std::size_t I = 0; I + 1 < Text.size(); I += 2)
    Bytes += static_cast<char>(Value(Text[I]) * 16 + Value(Text[I + 1]));
  return Bytes;
}

// Appends one line. Programs recording at the same time (editors started
// side by side) take turns: an append of one may otherwise land on another's.
inline void Append_Record(const char *File_Name, std::string_view Key, std::string_view Value) {
  if (!File_Name) return;
  const HANDLE File = CreateFileA(File_Name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  OVERLAPPED Whole{};
  LockFileEx(File, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &Whole);
  SetFilePointer(File, 0, nullptr, FILE_END);
  const std::string Line = std::string(Key) + "=" + Hex(Value) + "\r\n";
  DWORD Written = 0;
  WriteFile(File, Line.data(), static_cast<DWORD>(Line.size()), &Written, nullptr);
  UnlockFileEx(File, 0, MAXDWORD, MAXDWORD, &Whole);
  CloseHandle(File);
}

// The server's plan: its reply messages in order; Drop (when set) is the
// number of messages it sends before it closes its end.
struct Plan {
  std::vector<std::string> Messages;
  std::optional<std::size_t> Drop;
};

inline std::string Plan_Text(const Plan &Stream) {
  std::string Text;
  if (Stream.Drop) Text += "drop=" + std::to_string(*Stream.Drop) + "\r\n";
  for (const std::string &Message : Stream.Messages)
    Text += "message=" + Hex(Message) + "\r\n";
  return Text;
}

inline Plan Parse_Plan(std::string_view Text) {
  Plan Stream;
  while (!Text.empty()) {
    const std::size_t End = Text.find("\r\n");
    const std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(End == std::string_view::npos ? Text.size() : End + 2);
    if (Line.starts_with("drop=")) Stream.Drop = std::stoul(std::string(Line.substr(5)));
    if (Line.starts_with("message=")) Stream.Messages.push_back(Unhex(Line.substr(8)));
  }
  return Stream;
}

} // namespace Fuzz_Wire
