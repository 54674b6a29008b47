#include "windows/windows.hpp"

#include "windows/files.hpp"
#include "windows/handle.hpp"

#include <algorithm>
#include <vector>

namespace Windows {

namespace {

bool Is_Blank(char C) {
  return C == ' ' || C == '\t';
}

// The command line's name for a file: a blank or a tab would end it early.
std::string Command_Part(std::string_view Path) {
  if (Path.find_first_of(" \t") == std::string_view::npos) return std::string(Path);
  return '"' + std::string(Path) + '"';
}

std::string Full_Path(const std::string &Name) {
  std::vector<char> Path(MAX_PATH);
  for (;;) {
    const DWORD Length =
        GetFullPathNameA(Name.c_str(), static_cast<DWORD>(Path.size()), Path.data(), nullptr);
    if (Length == 0) return Name;
    if (Length < Path.size()) return std::string(Path.data(), Length);
    Path.resize(Length);
  }
}

// A folder that names itself, not one relative to the working directory.
bool Fully_Qualified(std::string_view Folder) {
  const auto Separator = [](char C) { return C == '\\' || C == '/'; };
  if (Folder.size() >= 2 && Separator(Folder[0]) && Separator(Folder[1])) return true;
  return Folder.size() >= 3 && Folder[1] == ':' && Separator(Folder[2]) &&
         ((Folder[0] >= 'A' && Folder[0] <= 'Z') || (Folder[0] >= 'a' && Folder[0] <= 'z'));
}

std::string System_Folder(UINT (*Query)(LPSTR, UINT)) {
  char Folder[MAX_PATH];
  const UINT Length = Query(Folder, MAX_PATH);
  return Length == 0 || Length >= MAX_PATH ? std::string() : std::string(Folder, Length);
}

// The folders a bare program name is looked for in: this program's own, the
// system's, then those of PATH. Never the working directory: a program
// planted in a project folder must not run in the user's name.
std::vector<std::string> Search_Folders() {
  std::vector<std::string> Folders{Module_Directory(), System_Folder(GetSystemDirectoryA),
                                   System_Folder(GetWindowsDirectoryA)};
  std::vector<char> Path(GetEnvironmentVariableA("PATH", nullptr, 0));
  if (!Path.empty() &&
      GetEnvironmentVariableA("PATH", Path.data(), static_cast<DWORD>(Path.size())) < Path.size()) {
    std::string_view Rest(Path.data());
    while (!Rest.empty()) {
      const std::size_t End = Rest.find(';');
      std::string_view Folder = Rest.substr(0, End);
      Rest = End == std::string_view::npos ? std::string_view() : Rest.substr(End + 1);
      if (Folder.size() >= 2 && Folder.front() == '"' && Folder.back() == '"')
        Folder = Folder.substr(1, Folder.size() - 2);
      if (Fully_Qualified(Folder)) Folders.emplace_back(Folder);
    }
  }
  return Folders;
}

// What a search tried, for a log that must say why nothing was taken; none
// when only the result is wanted.
using Account = std::string *;

void Note(Account Tried, const std::string &What) {
  if (Tried) (Tried->empty() ? *Tried : *Tried += "; ") += What;
}

std::optional<std::string> Search(std::string_view Name, Account Tried) {
  std::string File(Name);
  if (Name.find('.') == std::string_view::npos) File += ".exe";
  std::string Folders;
  for (std::string Folder : Search_Folders()) {
    if (Folder.empty()) continue;
    if (Folder.back() != '\\' && Folder.back() != '/') Folder += '\\';
    if (Files::File_Exists(Folder + File, false)) return Full_Path(Folder + File);
    (Folders.empty() ? Folders : Folders += ", ") += Folder;
  }
  Note(Tried, File + " is in none of " + Folders);
  return std::nullopt;
}

// The file Name stands for: a bare name is searched for, a path must name
// the file exactly as written.
std::optional<std::string> Program_File(std::string_view Name, Account Tried) {
  if (Name.empty()) return std::nullopt;
  if (Name.find_first_of("\\/:") == std::string_view::npos) return Search(Name, Tried);
  const std::string File(Name);
  if (Files::File_Exists(File, false)) return Full_Path(File);
  Note(Tried, "no file " + File);
  return std::nullopt;
}

// A part of the value before a blank: "C:\tools\My" of a missing
// "C:\tools\My Editor\ed.exe" must not run with the rest as its arguments.
std::optional<std::string> Program_Prefix(std::string_view Name, Account Tried) {
  std::optional<std::string> File = Program_File(Name, Tried);
  if (!File || Has_Extension(*File, ".exe") || Has_Extension(*File, ".com")) return File;
  Note(Tried, *File + " is taken only as the whole value, not before options");
  return std::nullopt;
}

std::optional<Program> Found(const std::optional<std::string> &File, std::string_view Options) {
  if (!File) return std::nullopt;
  return Program{*File, Command_Part(*File), std::string(Options)};
}

std::optional<Program> Resolve(std::string_view Value, Program_Value Kind, Account Tried) {
  if (Kind == Program_Value::File) {
    const std::string File(Value);
    if (!Value.empty() && Files::File_Exists(File, false))
      return Program{Full_Path(File), Command_Part(Value), {}};
    Note(Tried, "no file " + File + " from the working directory " + Full_Path("."));
    return std::nullopt;
  }
  if (!Value.empty() && Value.front() == '"') {
    const std::size_t Close = Value.find('"', 1);
    if (Close == std::string_view::npos) return Found(Program_File(Value.substr(1), Tried), {});
    return Found(Program_File(Value.substr(1, Close - 1), Tried), Value.substr(Close + 1));
  }
  // The whole value, or the longest part ending before a blank.
  for (std::size_t End = Value.size(); End > 0; --End) {
    if (End == Value.size()) {
      if (std::optional<std::string> File = Program_File(Value, Tried)) return Found(File, {});
    } else if (Is_Blank(Value[End]) && !Is_Blank(Value[End - 1])) {
      if (std::optional<std::string> File = Program_Prefix(Value.substr(0, End), Tried))
        return Found(File, Value.substr(End));
    }
  }
  if (Value.empty()) Note(Tried, "the value is empty");
  return std::nullopt;
}

} // namespace

namespace {

template <typename Character>
bool Ends_In(std::basic_string_view<Character> File, std::basic_string_view<Character> Extension) {
  if (File.size() < Extension.size()) return false;
  const auto End = File.substr(File.size() - Extension.size());
  const auto Lower = [](Character C) {
    return C >= 'A' && C <= 'Z' ? static_cast<Character>(C - 'A' + 'a') : C;
  };
  return std::equal(End.begin(), End.end(), Extension.begin(), Extension.end(),
                    [&](Character F, Character E) { return Lower(F) == Lower(E); });
}

} // namespace

bool Has_Extension(std::string_view File, std::string_view Extension) {
  return Ends_In(File, Extension);
}

bool Has_Extension(std::wstring_view File, std::wstring_view Extension) {
  return Ends_In(File, Extension);
}

std::optional<Program> Find_Program(std::string_view Value, Program_Value Kind) {
  return Resolve(Value, Kind, nullptr);
}

std::string Program_Search_Account(std::string_view Value, Program_Value Kind) {
  std::string Tried;
  Resolve(Value, Kind, &Tried);
  return '"' + std::string(Value) + "\": " + Tried;
}

void Create_Process(std::string_view Program, std::string_view Arguments,
                    std::string_view Environment, std::string_view Directory, HANDLE Std_Input,
                    HANDLE Std_Output, HANDLE Std_Error, bool Detached) {
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  const bool Redirect = Std_Input || Std_Output || Std_Error;
  if (Redirect) {
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = Std_Input ? Std_Input : GetStdHandle(STD_INPUT_HANDLE);
    Startup.hStdOutput = Std_Output ? Std_Output : GetStdHandle(STD_OUTPUT_HANDLE);
    Startup.hStdError = Std_Error ? Std_Error : GetStdHandle(STD_ERROR_HANDLE);
  }
  std::string Block;
  if (!Environment.empty()) (Block = Environment).append(2, '\0');
  const std::string Directory_Text(Directory);
  const std::string Program_Text(Program);
  std::string Command_Line;
  if (!Arguments.empty()) (Command_Line = Program_Text + ' ').append(Arguments);

  PROCESS_INFORMATION Process{};
  const BOOL Started =
      CreateProcessA(Arguments.empty() ? Program_Text.c_str() : nullptr,
                     Arguments.empty() ? nullptr : Command_Line.data(), nullptr, nullptr, Redirect,
                     Detached ? DETACHED_PROCESS : 0, Block.empty() ? nullptr : Block.data(),
                     Directory.empty() ? nullptr : Directory_Text.c_str(), &Startup, &Process);
  if (Started != TRUE) throw Process_Creation_Failure();
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
}

} // namespace Windows
