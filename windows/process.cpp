#include "windows/windows.hpp"

#include "windows/files.hpp"
#include "windows/handle.hpp"

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

std::optional<std::string> Search(std::string_view Name) {
  std::string File(Name);
  if (Name.find('.') == std::string_view::npos) File += ".exe";
  for (std::string Folder : Search_Folders()) {
    if (Folder.empty()) continue;
    if (Folder.back() != '\\' && Folder.back() != '/') Folder += '\\';
    if (Files::File_Exists(Folder + File, false)) return Full_Path(Folder + File);
  }
  return std::nullopt;
}

// The file Name stands for: a bare name is searched for, a path must name
// the file exactly as written.
std::optional<std::string> Program_File(std::string_view Name) {
  if (Name.empty()) return std::nullopt;
  if (Name.find_first_of("\\/:") == std::string_view::npos) return Search(Name);
  const std::string File(Name);
  if (!Files::File_Exists(File, false)) return std::nullopt;
  return Full_Path(File);
}

std::optional<Program> Found(const std::optional<std::string> &File, std::string_view Options) {
  if (!File) return std::nullopt;
  return Program{*File, Command_Part(*File), std::string(Options)};
}

} // namespace

std::optional<Program> Find_Program(std::string_view Value, Program_Value Kind) {
  if (Kind == Program_Value::File) {
    const std::string File(Value);
    if (Value.empty() || !Files::File_Exists(File, false)) return std::nullopt;
    return Program{Full_Path(File), Command_Part(Value), {}};
  }
  if (!Value.empty() && Value.front() == '"') {
    const std::size_t Close = Value.find('"', 1);
    if (Close == std::string_view::npos) return Found(Program_File(Value.substr(1)), {});
    return Found(Program_File(Value.substr(1, Close - 1)), Value.substr(Close + 1));
  }
  // The longest part ending before a blank, or the whole value.
  for (std::size_t End = Value.size(); End > 0; --End) {
    if (End < Value.size() && !(Is_Blank(Value[End]) && !Is_Blank(Value[End - 1]))) continue;
    if (std::optional<std::string> File = Program_File(Value.substr(0, End)))
      return Found(File, Value.substr(End));
  }
  return std::nullopt;
}

namespace {

// The NUL device, inheritable, for all three standard handles: a started
// program must not keep the caller's output open (its reader waits for the
// end of it) nor read the caller's input.
class Null_Handles {
public:
  Null_Handles() {
    SECURITY_ATTRIBUTES Inherited{sizeof Inherited, nullptr, TRUE};
    Device_.Reset(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &Inherited, OPEN_EXISTING, 0,
                              nullptr));
    if (!Device_) throw Process_Creation_Failure("the NUL device cannot be opened");
    SIZE_T Size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &Size);
    Storage_.resize(Size);
    List_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(Storage_.data());
    if (!InitializeProcThreadAttributeList(List_, 1, 0, &Size))
      throw Process_Creation_Failure("no attribute list");
    Handle_ = Device_.Get();
    // Only this handle is inherited, whatever else of ours is inheritable.
    if (!UpdateProcThreadAttribute(List_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &Handle_,
                                   sizeof Handle_, nullptr, nullptr)) {
      DeleteProcThreadAttributeList(List_);
      throw Process_Creation_Failure("no handle list");
    }
  }
  ~Null_Handles() { DeleteProcThreadAttributeList(List_); }
  Null_Handles(const Null_Handles &) = delete;
  Null_Handles &operator=(const Null_Handles &) = delete;

  void Fill(STARTUPINFOEXA &Startup) const {
    Startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    Startup.StartupInfo.hStdInput = Startup.StartupInfo.hStdOutput = Startup.StartupInfo.hStdError =
        Handle_;
    Startup.lpAttributeList = List_;
  }

private:
  File_Handle Device_;
  HANDLE Handle_ = nullptr;
  std::vector<char> Storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST List_ = nullptr;
};

} // namespace

void Start_Program(const Program &Program, std::string_view Arguments,
                   const Start_Options &Options) {
  std::string Command_Line = Program.Command_Part + Program.Options;
  if (!Arguments.empty()) (Command_Line += ' ').append(Arguments);
  STARTUPINFOEXA Startup{};
  Startup.StartupInfo.cb = sizeof Startup.StartupInfo;
  std::optional<Null_Handles> Null;
  DWORD Flags = CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB;
  if (Options.Hidden_Console) Flags |= CREATE_NO_WINDOW;
  if (Options.Null_Standard_Handles) {
    Null.emplace().Fill(Startup);
    Startup.StartupInfo.cb = sizeof Startup;
    Flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION Process{};
  const auto Start = [&] {
    // Some systems (Wine) now and then fail a start with an internal error
    // while another program starts one too; the next try succeeds. Overlapping
    // queries start servers at once.
    for (int Attempt = 1; Attempt <= 3; ++Attempt) {
      if (CreateProcessA(Program.File.c_str(), Command_Line.data(), nullptr, nullptr,
                         Null.has_value(), Flags, nullptr, nullptr, &Startup.StartupInfo,
                         &Process) == TRUE)
        return true;
      if (GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    return false;
  };
  bool Started = Start();
  // A job that allows no breakaway refuses it: its owner has decided that
  // what runs in it ends with it.
  if (!Started && GetLastError() == ERROR_ACCESS_DENIED) {
    Flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
    Started = Start();
  }
  if (!Started) throw Process_Creation_Failure();
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
}

bool Standard_Output_Is_Console() {
  return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
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
