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
    : Section_(Section), File_(File), Entries_(Section_Buffer_Size, '\0') {
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
