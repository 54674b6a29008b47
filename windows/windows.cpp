#include "windows/windows.hpp"

#include "windows/handle.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace Windows {

namespace {

constexpr int Format_Buffer_Size = 50;

std::string Name_Field(const char *Field, std::size_t Capacity) {
  return std::string(Field, strnlen(Field, Capacity));
}

class Module_Snapshot {
public:
  explicit Module_Snapshot(std::uint32_t Process_Id)
      : Handle_(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, Process_Id)) {
    Entry_.dwSize = sizeof Entry_;
  }

  // The next entry, or false when there is none (or no snapshot).
  bool Next() {
    if (!Handle_) return false;
    const BOOL Found =
        Started_ ? Module32Next(Handle_.Get(), &Entry_) : Module32First(Handle_.Get(), &Entry_);
    Started_ = true;
    return Found == TRUE;
  }
  const Module_Entry &Entry() const { return Entry_; }

private:
  File_Handle Handle_;
  Module_Entry Entry_{};
  bool Started_ = false;
};

// A loaded image's handle is its base address, and its headers give its size:
// what the system's module query answers, without a call (which costs a trip
// to the system at every start on some of them).
bool Image_Information(HMODULE Module, MODULEINFO &Information) {
  const auto *const Base = reinterpret_cast<const BYTE *>(Module);
  const auto *const Dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(Base);
  if (Dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto *const Nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(Base + Dos->e_lfanew);
  if (Nt->Signature != IMAGE_NT_SIGNATURE ||
      Nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
    return false;
  Information.lpBaseOfDll = Module;
  Information.SizeOfImage = Nt->OptionalHeader.SizeOfImage;
  Information.EntryPoint = Nt->OptionalHeader.AddressOfEntryPoint == 0
                               ? nullptr
                               : const_cast<BYTE *>(Base + Nt->OptionalHeader.AddressOfEntryPoint);
  return true;
}

// A snapshot of the process's modules costs milliseconds on some systems,
// paid at every start; the loader answers the same question at once. Its
// answer is the snapshot's for an address inside a module's image (past its
// first byte, where no other module can end); other addresses go to the
// snapshot.
std::optional<Module_Entry> Loaded_Module_Containing(const void *Address) {
  HMODULE Module = nullptr;
  MODULEINFO Information{};
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(Address), &Module) ||
      !(Image_Information(Module, Information) ||
        GetModuleInformation(GetCurrentProcess(), Module, &Information, sizeof Information)) ||
      Address <= Information.lpBaseOfDll)
    return std::nullopt;
  Module_Entry Entry{};
  Entry.dwSize = sizeof Entry;
  Entry.th32ModuleID = 1;
  Entry.th32ProcessID = GetCurrentProcessId();
  Entry.GlblcntUsage = Entry.ProccntUsage = 0xFFFF;
  Entry.modBaseAddr = static_cast<BYTE *>(Information.lpBaseOfDll);
  Entry.modBaseSize = Information.SizeOfImage;
  Entry.hModule = Module;
  const DWORD Length = GetModuleFileNameA(Module, Entry.szExePath, sizeof Entry.szExePath);
  if (Length == 0 || Length >= sizeof Entry.szExePath) return std::nullopt;
  const std::string_view Path(Entry.szExePath, Length);
  const std::string_view Name = Path.substr(Path.find_last_of('\\') + 1);
  if (Name.size() >= sizeof Entry.szModule) return std::nullopt;
  Name.copy(Entry.szModule, Name.size());
  return Entry;
}

} // namespace

std::string Error_Reason(std::uint32_t Code) {
  return "system error " + std::to_string(Code);
}

std::string Error_Text(std::uint32_t Code) {
  char Text[512];
  const DWORD Length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, Code, 0, Text, sizeof Text, nullptr);
  std::string Result(Text, Length);
  // A log record is one line.
  std::replace_if(
      Result.begin(), Result.end(), [](char C) { return C == '\r' || C == '\n'; }, ' ');
  while (!Result.empty() && Result.back() == ' ')
    Result.pop_back();
  return Result;
}

SYSTEMTIME Local_Time() {
  SYSTEMTIME Time;
  GetLocalTime(&Time);
  return Time;
}

std::string Date_Time_Image(const SYSTEMTIME &Time) {
  char Date[Format_Buffer_Size], Clock[Format_Buffer_Size];
  const int Date_Count =
      GetDateFormatA(LOCALE_USER_DEFAULT, 0, &Time, nullptr, Date, Format_Buffer_Size);
  const int Time_Count =
      GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &Time, nullptr, Clock, Format_Buffer_Size);
  std::string Image(Date, Date_Count > 0 ? static_cast<std::size_t>(Date_Count - 1) : 0);
  Image += ' ';
  Image.append(Clock, Time_Count > 0 ? static_cast<std::size_t>(Time_Count - 1) : 0);
  return Image;
}

std::uint32_t Current_Thread_Id() {
  return GetCurrentThreadId();
}

Module_Entry First_Module(std::uint32_t Process_Id) {
  Module_Snapshot Snapshot(Process_Id);
  if (!Snapshot.Next()) throw No_Module_Information();
  return Snapshot.Entry();
}

Module_Entry Module_Containing(const void *Address) {
  if (const std::optional<Module_Entry> Loaded = Loaded_Module_Containing(Address)) return *Loaded;
  const auto Target = reinterpret_cast<std::uintptr_t>(Address);
  Module_Snapshot Snapshot(0);
  while (Snapshot.Next()) {
    const auto Base = reinterpret_cast<std::uintptr_t>(Snapshot.Entry().modBaseAddr);
    if (Base <= Target && Target <= Base + Snapshot.Entry().modBaseSize) return Snapshot.Entry();
  }
  throw No_Module_Information();
}

bool Is_Not_Main_Module(HMODULE Module) {
  return Module != First_Module(0).hModule;
}

std::string Module_Base_Name(const Module_Entry &Entry) {
  const std::string Name = Name_Field(Entry.szModule, sizeof Entry.szModule);
  const std::size_t Dot = Name.rfind('.');
  return Dot == std::string::npos ? Name : Name.substr(0, Dot);
}

std::string Module_Path(const Module_Entry &Entry) {
  return Name_Field(Entry.szExePath, sizeof Entry.szExePath);
}

std::string Module_Directory() {
  const Module_Entry Entry = Module_Containing(reinterpret_cast<const void *>(&Module_Directory));
  std::vector<char> Path(300);
  DWORD Length;
  // A path that fills the buffer may have been cut: the directory would be
  // wrong, so grow rather than guess.
  while ((Length = GetModuleFileNameA(Entry.hModule, Path.data(),
                                      static_cast<DWORD>(Path.size()))) == Path.size())
    Path.resize(Path.size() * 2);
  const std::string_view Name(Path.data(), Length);
  const std::size_t Backslash = Name.rfind('\\');
  return Backslash == std::string_view::npos ? std::string()
                                             : std::string(Name.substr(0, Backslash + 1));
}

void Delay(Duration Span) {
  if (Span.Raw > 0) Sleep(static_cast<DWORD>(std::lround(Span.Seconds() * 1000.0)));
}

} // namespace Windows
